#pragma once

#include <windows.h>

#include <deque>
#include <string>
#include <string_view>

#include "platform/win32/handles.h"

// The simulator's event log: what an end-to-end test reads to learn which keys arrived and what
// the simulated application did about them.
namespace ordovan::simulator {

class EventLog {
  public:
    // An empty path keeps the events in memory only (for the window to show).
    explicit EventLog(std::wstring_view path);

    // Appends "<ms> <event>" with CR LF straight to the file, so that a reader never waits for a
    // buffer and a killed simulator loses nothing.
    void Write(std::string_view event);

    // The last few lines, oldest first.
    const std::deque<std::string>& Recent() const { return recent_; }

  private:
    std::string Timestamp() const;

    win32::UniqueFile file_;
    LARGE_INTEGER frequency_{};
    LARGE_INTEGER start_{};
    std::deque<std::string> recent_;
};

// "key <down|up> <vk> <ext> <shift> <ctrl> <alt>" for a WM_(SYS)KEYDOWN/UP message, with the
// modifiers as the thread's key state has them while the message is handled.
std::string KeyEvent(UINT message, WPARAM virtualKey, LPARAM flags);

}  // namespace ordovan::simulator
