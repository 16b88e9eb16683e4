#pragma once

#include <windows.h>

#include <string_view>

namespace ordovan::win32 {

// Gives Windows the reason the window's program refuses to let the session end, which Windows
// shows to whoever shuts down or restarts; an empty reason takes it back. Only the thread that
// made the window may call it. Answers false when Windows did not take it.
bool SetShutdownBlockReason(HWND window, std::wstring_view reason);

}  // namespace ordovan::win32
