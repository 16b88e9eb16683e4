#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

namespace ordovan::win32 {

// What Windows is set to do after a time without input.
struct IdleLockSettings {
    bool screenSaverActive = false;
    bool screenSaverSecure = false;  // asks for the password when it ends
    DWORD screenSaverSeconds = 0;
    DWORD inactivityLimitSeconds = 0;  // the machine's inactivity limit; 0: none
};

// After how many seconds without input the screen is locked: by a screen saver that asks for the
// password, or by the machine's inactivity limit, whichever comes first; nothing when neither.
std::optional<std::int32_t> EarliestIdleLock(const IdleLockSettings& settings);

// The settings of this session and machine.
IdleLockSettings CurrentIdleLockSettings();

}  // namespace ordovan::win32
