#include "platform/win32/shutdown_block.h"

#include <string>

namespace ordovan::win32 {

bool SetShutdownBlockReason(HWND window, std::wstring_view reason) {
    if (reason.empty())
        return ::ShutdownBlockReasonDestroy(window) != FALSE;
    return ::ShutdownBlockReasonCreate(window, std::wstring(reason).c_str()) != FALSE;
}

}  // namespace ordovan::win32
