#pragma once

#include <windows.h>

#include <optional>

namespace ordovan::win32 {

// Asks Windows to report the session's lock and unlock to the window (WM_WTSSESSION_CHANGE).
// Answers false when it will not; the input desktop still tells a lock then.
bool RegisterSessionNotifications(HWND window);
// Must come before the window is destroyed.
void UnregisterSessionNotifications(HWND window);

// What a WM_WTSSESSION_CHANGE reports: locked, unlocked, or nothing about the lock.
std::optional<bool> SessionLockChange(WPARAM change);

// Whether the desktop that takes the keyboard's input is the one our thread works on. It is not
// while the screen is locked or a secure desktop (a UAC prompt, Ctrl+Alt+Del) is up: keys typed
// then reach no window of the user's.
bool InputDesktopIsOurs();

}  // namespace ordovan::win32
