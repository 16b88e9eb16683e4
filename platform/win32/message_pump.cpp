#include "platform/win32/message_pump.h"

#include <algorithm>

#include "platform/window_system.h"

namespace ordovan::win32 {

namespace {

// How long a wait blocks before it looks at the queue again. Windows calls a window "not
// responding" once its thread has not looked at its queue for 5 seconds; this stays far below,
// and a close request is taken within it.
constexpr DWORD kAlivePeriodMs = 100;
// Paint messages handled per look: a window that never validates must not keep the wait busy.
constexpr int kPaintsPerLook = 16;
// lParam bit of a key message: Alt was held when the key went down.
constexpr LPARAM kAltHeld = LPARAM{1} << 29;
// GetAsyncKeyState's bit for a key or button that is down now.
constexpr SHORT kDownNow = SHORT(0x8000);

// Whether the user holds the primary mouse button now. Asked of the button itself: a frame
// press carries the hit-test code, not the buttons' state, and the thread's key state still
// says down while the release waits in the queue. Windows answers for the physical buttons, so
// swapped ones are swapped back. An answer refused (another desktop, UIPI) reads as up.
bool PrimaryButtonDown() {
    const int button = ::GetSystemMetrics(SM_SWAPBUTTON) ? VK_RBUTTON : VK_LBUTTON;
    return (::GetAsyncKeyState(button) & kDownNow) != 0;
}

}  // namespace

int MessagePump::Run() {
    MSG message{};
    for (;;) {
        DispatchHeld();
        if (::GetMessageW(&message, nullptr, 0, 0) <= 0)
            return static_cast<int>(message.wParam);
        Dispatch(message);
    }
}

void MessagePump::Dispatch(MSG& message) {
    // Input held back during a wait came first.
    if (DispatchHeld())
        DispatchNow(message);
}

void MessagePump::DispatchNow(MSG& message) {
    // The dialog manager gives the window Tab navigation, Space and Enter on the button.
    if (window_ && ::IsDialogMessageW(window_.get(), &message))
        return;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
}

void MessagePump::ProcessPending() {
    MSG message{};
    while (DispatchHeld() && ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Leave the quit request for the main loop.
            ::PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        DispatchNow(message);
    }
    if (!window_)
        throw WindowClosed{};
}

// Answers whether the window is still there.
bool MessagePump::DispatchHeld() {
    while (window_ && !held_.empty()) {
        MSG message = held_.front();
        held_.pop_front();
        // A frame press whose button is up by now would start a move or size loop that waits
        // for a release long gone: the run's keys would stop until someone clicks.
        if (message.message == WM_NCLBUTTONDOWN && !PrimaryButtonDown())
            continue;
        DispatchNow(message);
    }
    return static_cast<bool>(window_);
}

void MessagePump::Sleep(std::int32_t milliseconds) {
    const ULONGLONG deadline =
        ::GetTickCount64() + static_cast<ULONGLONG>(std::max(milliseconds, 0));
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        if (!Idle(now < deadline ? static_cast<DWORD>(deadline - now) : 0))
            throw WindowClosed{};
        if (::GetTickCount64() >= deadline)
            return;
    }
}

bool MessagePump::Idle(DWORD milliseconds) {
    for (int look = 0; look < 2; ++look) {
        if (TakeCloseRequest()) {
            if (window_)
                ::DestroyWindow(window_.get());
            return false;
        }
        Paint();
        if (look == 0 && milliseconds > 0) {
            // What is queued now counts as seen, so that only new messages end the wait early.
            ::GetQueueStatus(QS_ALLINPUT);
            ::MsgWaitForMultipleObjectsEx(0, nullptr, std::min(milliseconds, kAlivePeriodMs),
                                          QS_ALLINPUT, 0);
        }
    }
    return true;
}

// Sent messages (a close from the taskbar, for one) are handled by any look at the queue; posted
// and input ones are looked for here, leaving everything else where it is.
bool MessagePump::TakeCloseRequest() {
    if (!window_)
        return true;  // a close sent to us was handled while we waited
    MSG message{};
    if (::PeekMessageW(&message, window_.get(), WM_CLOSE, WM_CLOSE, PM_REMOVE))
        return true;
    if (::PeekMessageW(&message, window_.get(), WM_SYSCOMMAND, WM_SYSCOMMAND, PM_NOREMOVE) &&
        (message.wParam & 0xFFF0) == SC_CLOSE &&
        ::PeekMessageW(&message, window_.get(), WM_SYSCOMMAND, WM_SYSCOMMAND, PM_REMOVE)) {
        return true;
    }
    return TakeCloseKey() || TakeCloseClick() || !window_;
}

// Alt+F4 reaches the focused control as an F4 press behind one or more Alt presses (the key
// repeats while held). Alt presses are taken out to see past them; nothing else is.
bool MessagePump::TakeCloseKey() {
    MSG message{};
    while (::PeekMessageW(&message, nullptr, WM_SYSKEYDOWN, WM_SYSKEYDOWN, PM_NOREMOVE)) {
        const bool closeKey = message.wParam == VK_F4 && (message.lParam & kAltHeld) != 0;
        if (!closeKey && message.wParam != VK_MENU)
            return false;
        ::PeekMessageW(&message, nullptr, WM_SYSKEYDOWN, WM_SYSKEYDOWN, PM_REMOVE);
        if (closeKey)
            return true;
        held_.push_back(message);
    }
    return false;
}

// A press on the frame's close button. Presses elsewhere on the frame are taken out to see past
// them and handled later in order; handling them now could start a move or size loop.
bool MessagePump::TakeCloseClick() {
    MSG message{};
    while (::PeekMessageW(&message, window_.get(), WM_NCLBUTTONDOWN, WM_NCLBUTTONDOWN, PM_REMOVE)) {
        if (message.wParam == HTCLOSE)
            return true;
        held_.push_back(message);
    }
    return false;
}

void MessagePump::Paint() {
    MSG message{};
    for (int paint = 0; paint < kPaintsPerLook && window_ &&
                        ::PeekMessageW(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE);
         ++paint) {
        ::DispatchMessageW(&message);
    }
}

}  // namespace ordovan::win32
