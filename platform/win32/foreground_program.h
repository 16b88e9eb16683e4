#pragma once

#include "platform/window_system.h"

namespace ordovan::win32 {

// The program whose window is in front: where typed keys go. Its process ID is 0 when there is
// no such window (a locked screen shows none of the user's).
ForegroundProgram CurrentForegroundProgram();

}  // namespace ordovan::win32
