#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>

#include "platform/win32/handles.h"

namespace ordovan::win32 {

// The thread's message handling for the main window: the program's loop, the event pass the
// procedures ask for, and the waits in between, during which the window stays alive for Windows
// (it paints and looks at its queue) but is not serviced: clicks, typing and timer ticks stay
// queued until the handler returns or the next event pass. Closing the window is the one request
// a wait takes; it ends the wait with WindowClosed.
class MessagePump {
  public:
    explicit MessagePump(const UniqueWindow& window) : window_(window) {}

    // The program's message loop; returns the exit code once the window has been closed.
    int Run();
    // One message through the window's usual handling (dialog keys, translation, dispatch),
    // after any input a wait held back.
    void Dispatch(MSG& message);
    // One pass over the messages pending now. Throws WindowClosed when the window went during it.
    void ProcessPending();
    // Blocks for the time given while the window stays alive. Throws WindowClosed on a close
    // request, after destroying the window.
    void Sleep(std::int32_t milliseconds);
    // Waits at most `milliseconds` for a message to arrive while the window stays alive; answers
    // false, with the window destroyed, when the user asked to close it.
    bool Idle(DWORD milliseconds);

  private:
    bool TakeCloseRequest();
    bool TakeCloseKey();
    bool TakeCloseClick();
    void Paint();
    void DispatchNow(MSG& message);
    bool DispatchHeld();

    const UniqueWindow& window_;
    // Input taken out of the queue only to look past it (an Alt press that may start Alt+F4, a
    // click on the frame that is not on its close button). Handled first, in order, when the
    // window is serviced again; a frame press only while its button is still held.
    std::deque<MSG> held_;
};

}  // namespace ordovan::win32
