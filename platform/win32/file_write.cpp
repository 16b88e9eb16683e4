#include "platform/win32/file_write.h"

#include <utility>

#include "platform/win32/last_error.h"

namespace ordovan::win32 {

void WriteWhole(HANDLE file, std::string_view bytes) {
    if (std::cmp_greater(bytes.size(), MAXDWORD))
        throw ErrorFailure(ERROR_INVALID_PARAMETER);
    const auto length = static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), length, &written, nullptr))
        ThrowLastError();
    if (written != length)
        throw ErrorFailure(ERROR_DISK_FULL);
}

}  // namespace ordovan::win32
