#include "platform/win32/tick_clock.h"

#include <windows.h>

namespace ordovan::win32 {

std::int64_t TickClock::NowMs() {
    return static_cast<std::int64_t>(::GetTickCount64());
}

}  // namespace ordovan::win32
