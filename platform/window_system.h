#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/key_notation.h"

// What the main window's procedures need from the window system: its controls, its timer, the
// message box, event processing, the blocking sleep and keystroke synthesis. Operations throw
// ordovan::Failure when the platform fails them.
namespace ordovan {

// The window was closed while a procedure let events run. The program is ending: the procedure
// must stop at once, with no further key, copy, deletion or log line. Deliberately not a Failure,
// so that no failure path catches it.
struct WindowClosed {};

// The program that has the window in front, where typed keys go.
struct ForegroundProgram {
    std::uint32_t processId = 0;
    std::wstring fileName;     // of its executable, without the folder
    std::wstring windowTitle;  // of its window in front
};

class WindowSystem {
  public:
    virtual ~WindowSystem() = default;

    virtual std::wstring ButtonCaption() = 0;
    virtual void SetButtonCaption(std::wstring_view caption) = 0;
    virtual std::wstring TargetText() = 0;
    virtual void SetTargetText(std::wstring_view text) = 0;

    // Modal, OK button only, no icon; returns when the user has dismissed it.
    virtual void ShowMessage(std::wstring_view text, std::wstring_view title) = 0;

    // Switching the poll timer on (also when it is on already) starts a fresh interval.
    virtual void SetTimerEnabled(bool enabled) = 0;

    // One pass over the window events pending at this moment. Throws WindowClosed when the user
    // closed the window during the pass.
    virtual void ProcessPendingEvents() = 0;

    // Blocks the thread; the window is not serviced meanwhile: it only paints and takes a request
    // to close it, which ends the sleep with WindowClosed.
    virtual void Sleep(std::int32_t milliseconds) = 0;

    // Types the strokes into the window that has the keyboard focus. With wait, returns only when
    // the receiving application has processed them (or gave no sign of life within a deadline);
    // throws WindowClosed when the user closed the window while the wait let events run.
    virtual void SendKeys(const std::vector<KeyStroke>& strokes, bool wait) = 0;

    // Keeps the system and the display awake while a run goes on, or lets them sleep again.
    // Never fails the caller: a run goes on either way.
    virtual void KeepAwake(bool awake) = 0;

    // While a run goes on, Windows asked to end the session shows this reason and is refused;
    // empty lets it end again. Never fails the caller.
    virtual void BlockShutdown(std::wstring_view reason) = 0;

    // Marks a hand-over to the next patient, from its first key to its last, event passes
    // included: a click meanwhile must not bring the window to the front, or the rest of the keys
    // would be typed into it.
    virtual void MarkHandOver(bool handingOver) = 0;

    // Whether typed keys would reach no window now: Windows reported the session locked, or the
    // desktop that takes input is not the user's (the lock screen, a secure desktop).
    virtual bool ScreenLocked() = 0;

    // After how many seconds without input Windows locks the screen by itself (a screen saver
    // with a password, the machine's inactivity limit); nothing when it does not.
    virtual std::optional<std::int32_t> ScreenLockAfterSeconds() = 0;

    // The program whose window is in front now; processId 0 when that cannot be told.
    virtual ForegroundProgram FrontProgram() = 0;
};

// Why the window goes away.
enum class UnloadReason {
    WindowClosed,   // the user closed it
    WindowsEnding,  // Windows ends the session: the process may end once the handler returns
};

// What the window system reports to the main window's logic.
class WindowEvents {
  public:
    virtual ~WindowEvents() = default;
    virtual void cmdStart_Click() = 0;
    virtual void tmrCheck_Timer() = 0;
    // Windows reported the session locked or unlocked.
    virtual void Form_SessionLock(bool locked) = 0;
    // The window goes away and the program ends.
    virtual void Form_Unload(UnloadReason reason) = 0;
};

}  // namespace ordovan
