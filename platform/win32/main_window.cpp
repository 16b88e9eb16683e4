#include "platform/win32/main_window.h"

#include <commctrl.h>

#include <algorithm>
#include <utility>

#include "platform/win32/foreground_program.h"
#include "platform/win32/key_synthesis.h"
#include "platform/win32/last_error.h"
#include "platform/win32/screen_lock_timeout.h"
#include "platform/win32/session_lock.h"
#include "platform/win32/shutdown_block.h"

namespace ordovan::win32 {

namespace {

constexpr wchar_t kClassName[] = L"CopyOrdovanForm1";
constexpr DWORD kWindowStyle = WS_OVERLAPPEDWINDOW;
constexpr DWORD kWindowExStyle = 0;
constexpr UINT_PTR kPollTimerId = 1;
constexpr WORD kIconResourceId = 1;

using form1::ControlKind;

const wchar_t* ClassOf(ControlKind kind) {
    switch (kind) {
        case ControlKind::PushButton:
            return WC_BUTTONW;
        case ControlKind::TextBox:
            return WC_EDITW;
        case ControlKind::Label:
            return WC_STATICW;
    }
    return WC_STATICW;
}

DWORD StyleOf(ControlKind kind) {
    constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
    switch (kind) {
        // A plain push button: neither the default nor the cancel button of the window.
        case ControlKind::PushButton:
            return kChild | WS_TABSTOP | BS_PUSHBUTTON;
        case ControlKind::TextBox:
            return kChild | WS_TABSTOP | ES_AUTOHSCROLL;
        case ControlKind::Label:
            return kChild | SS_LEFT | SS_NOPREFIX;
    }
    return kChild;
}

DWORD ExStyleOf(ControlKind kind) {
    return kind == ControlKind::TextBox ? WS_EX_CLIENTEDGE : 0;
}

std::wstring WindowText(HWND window) {
    ::SetLastError(ERROR_SUCCESS);
    const int length = ::GetWindowTextLengthW(window);
    if (length == 0 && ::GetLastError() != ERROR_SUCCESS)
        ThrowLastError();
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    ::SetLastError(ERROR_SUCCESS);
    const int copied = ::GetWindowTextW(window, text.data(), length + 1);
    if (copied == 0 && ::GetLastError() != ERROR_SUCCESS)
        ThrowLastError();
    text.resize(static_cast<std::size_t>(copied));
    return text;
}

void SetWindowTextOrThrow(HWND window, std::wstring_view text) {
    if (!::SetWindowTextW(window, std::wstring(text).c_str()))
        ThrowLastError();
}

UniqueFont MessageFont(UINT dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (!::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi)) {
        ThrowLastError();
    }
    UniqueFont font(::CreateFontIndirectW(&metrics.lfMessageFont));
    if (!font)
        ThrowLastError();
    return font;
}

void RegisterWindowClass(HINSTANCE instance, WNDPROC procedure) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(kIconResourceId));
    windowClass.hIconSm = static_cast<HICON>(::LoadImageW(
        instance, MAKEINTRESOURCEW(kIconResourceId), IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
        ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kClassName;
    if (::RegisterClassExW(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        ThrowLastError();
    }
}

// Marks the window's waits within a sequence, restoring what was before: a Start clicked by an
// Enter typed into our own window runs its whole sequence inside a key wait.
class SequenceWait {
  public:
    explicit SequenceWait(bool& waits) : waits_(waits), before_(std::exchange(waits, true)) {}
    SequenceWait(const SequenceWait&) = delete;
    SequenceWait& operator=(const SequenceWait&) = delete;
    ~SequenceWait() { waits_ = before_; }

  private:
    bool& waits_;
    bool before_;
};

}  // namespace

void MainWindow::Create(HINSTANCE instance, WindowEvents& events) {
    events_ = &events;
    INITCOMMONCONTROLSEX commonControls{sizeof(commonControls), ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&commonControls);
    RegisterWindowClass(instance, &MainWindow::WindowProc);

    const SIZE size = WindowSizeForClient(::GetDpiForSystem());
    // The window procedure takes ownership of the handle on WM_NCCREATE.
    if (::CreateWindowExW(kWindowExStyle, kClassName, std::wstring(form1::kCaption).c_str(),
                          kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT, size.cx, size.cy, nullptr,
                          nullptr, instance, this) == nullptr) {
        ThrowLastError();
    }
}

void MainWindow::Show(int showCommand) {
    ::ShowWindow(window_.get(), showCommand);
    ::UpdateWindow(window_.get());
    FocusStart();
}

// Focused by the program, the button must also be the dialog manager's current push button, as
// it is after Tab: only then does Enter click it. It stays a plain button otherwise; Enter in the
// target box clicks nothing, since the window has no default button.
void MainWindow::FocusStart() {
    const HWND start = Control(form1::ControlId::cmdStart);
    ::SetFocus(start);
    ::SendMessageW(start, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
}

HWND MainWindow::Control(form1::ControlId id) const {
    return controls_.at(static_cast<std::size_t>(id) -
                        static_cast<std::size_t>(form1::ControlId::cmdStart));
}

LRESULT CALLBACK MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                        LPARAM lParam) noexcept {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->window_.reset(window);
    }
    auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr)
        return ::DefWindowProcW(window, message, wParam, lParam);
    try {
        return self->HandleMessage(window, message, wParam, lParam);
    } catch (...) {
        // The procedures log their own failures, and WindowClosed ends a handler whose window is
        // gone (the main loop then finds the quit message). Nothing may unwind into Windows.
        return message == WM_CREATE ? -1 : 0;
    }
}

LRESULT MainWindow::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            OnCreate();
            return 0;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return 0;
        case WM_TIMER:
            OnTimer(wParam);
            return 0;
        case WM_ACTIVATE:
            OnActivate(LOWORD(wParam) != WA_INACTIVE);
            return 0;
        case WM_DPICHANGED:
            OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_DESTROY:
            OnDestroy();
            return 0;
        case WM_MOUSEACTIVATE:
            // Asked for a press on the inactive window, its frame included, and for a child's
            // press through the child's default handling. The press itself still arrives.
            if (sequenceWaits_ || handingOver_)
                return MA_NOACTIVATE;
            break;
        case WM_WTSSESSION_CHANGE:
            OnSessionChange(wParam);
            return 0;
        case WM_QUERYENDSESSION:
            return OnQueryEndSession();
        case WM_ENDSESSION:
            OnEndSession(wParam != FALSE);
            return 0;
        case WM_NCDESTROY:
            OnNcDestroy();
            break;
        default:
            break;
    }
    // `window`, not window_: WM_NCDESTROY has let go of window_ by now.
    return ::DefWindowProcW(window, message, wParam, lParam);
}

void MainWindow::OnCreate() {
    // Without the notifications the input desktop still tells a locked screen.
    RegisterSessionNotifications(window_.get());
    CreateControls();
    ApplyDpi(::GetDpiForWindow(window_.get()));
}

void MainWindow::OnCommand(int controlId, int notification) {
    if (controlId == static_cast<int>(form1::ControlId::cmdStart) && notification == BN_CLICKED) {
        events_->cmdStart_Click();
    }
}

void MainWindow::OnTimer(UINT_PTR timerId) {
    // Ticks that fall while the empty-target message is open are skipped: the poll would type
    // into whatever has the focus while the user is still answering.
    if (timerId == kPollTimerId && !messageOpen_)
        events_->tmrCheck_Timer();
}

void MainWindow::OnActivate(bool active) {
    // Give the focus back to the control that had it when the user switched away.
    if (!active) {
        focusBeforeDeactivation_ = ::GetFocus();
    } else if (focusBeforeDeactivation_ != nullptr &&
               focusBeforeDeactivation_ != Control(form1::ControlId::cmdStart) &&
               ::IsChild(window_.get(), focusBeforeDeactivation_)) {
        ::SetFocus(focusBeforeDeactivation_);
    } else {
        FocusStart();
    }
}

void MainWindow::OnDestroy() {
    if (events_ != nullptr)
        events_->Form_Unload(UnloadReason::WindowClosed);
    // Closing ends any run: the system may sleep and end again.
    KeepAwake(false);
    BlockShutdown({});
    UnregisterSessionNotifications(window_.get());
    ::PostQuitMessage(0);
}

void MainWindow::OnSessionChange(WPARAM change) {
    const std::optional<bool> locked = SessionLockChange(change);
    if (!locked)
        return;
    sessionLocked_ = *locked;
    if (events_ != nullptr)
        events_->Form_SessionLock(*locked);
}

// Windows shows a run's reason only to a program that refuses: one that agrees is ended whatever
// reason it gave. Whoever ends the session may still end it anyway.
LRESULT MainWindow::OnQueryEndSession() {
    return shutdownBlocked_ ? FALSE : TRUE;
}

// Once this returns, Windows may end the process at any moment: the run's last row goes to the
// journal first. A process that lives on (a program closed for an update) ends as on a close.
void MainWindow::OnEndSession(bool ending) {
    if (!ending || events_ == nullptr)
        return;
    events_->Form_Unload(UnloadReason::WindowsEnding);
    ::DestroyWindow(window_.get());
}

void MainWindow::OnDpiChanged(UINT dpi, const RECT& suggested) {
    ::SetWindowPos(window_.get(), nullptr, suggested.left, suggested.top,
                   suggested.right - suggested.left, suggested.bottom - suggested.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    ApplyDpi(dpi);
}

void MainWindow::OnNcDestroy() {
    ::SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
    window_.release();
    controls_.fill(nullptr);
}

void MainWindow::CreateControls() {
    const auto instance =
        reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(window_.get(), GWLP_HINSTANCE));
    for (std::size_t i = 0; i < form1::kControls.size(); ++i) {
        const form1::ControlDesign& design = form1::kControls[i];
        // Creation order is the tab order; positions follow in ApplyDpi.
        controls_[i] = ::CreateWindowExW(
            ExStyleOf(design.kind), ClassOf(design.kind), std::wstring(design.text).c_str(),
            StyleOf(design.kind), 0, 0, 0, 0, window_.get(),
            reinterpret_cast<HMENU>(static_cast<UINT_PTR>(design.id)), instance, nullptr);
        if (controls_[i] == nullptr)
            ThrowLastError();
    }
}

void MainWindow::ApplyDpi(UINT dpi) {
    UniqueFont font = MessageFont(dpi);
    const int scale = static_cast<int>(dpi);
    for (std::size_t i = 0; i < form1::kControls.size(); ++i) {
        const form1::ControlDesign& design = form1::kControls[i];
        ::SetWindowPos(controls_[i], nullptr, form1::TwipsToPixels(design.left, scale),
                       form1::TwipsToPixels(design.top, scale),
                       form1::TwipsToPixels(design.width, scale),
                       form1::TwipsToPixels(design.height, scale), SWP_NOZORDER | SWP_NOACTIVATE);
        ::SendMessageW(controls_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    }
    // The controls now use the new font; the old one may go.
    font_ = std::move(font);
    FitClientArea(dpi);
}

void MainWindow::FitClientArea(UINT dpi) {
    // Measure the frame the window actually has: the frame AdjustWindowRectExForDpi predicts for
    // a DPI need not be the one drawn (Wine keeps drawing its frames at the system DPI).
    RECT outer{};
    RECT client{};
    if (!::GetWindowRect(window_.get(), &outer) || !::GetClientRect(window_.get(), &client)) {
        ThrowLastError();
    }
    const int scale = static_cast<int>(dpi);
    const int width = form1::TwipsToPixels(form1::kClientWidthTwips, scale) +
                      (outer.right - outer.left) - client.right;
    const int height = form1::TwipsToPixels(form1::kClientHeightTwips, scale) +
                       (outer.bottom - outer.top) - client.bottom;
    ::SetWindowPos(window_.get(), nullptr, 0, 0, width, height,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

SIZE MainWindow::WindowSizeForClient(UINT dpi) const {
    const int scale = static_cast<int>(dpi);
    RECT frame{0, 0, form1::TwipsToPixels(form1::kClientWidthTwips, scale),
               form1::TwipsToPixels(form1::kClientHeightTwips, scale)};
    if (!::AdjustWindowRectExForDpi(&frame, kWindowStyle, FALSE, kWindowExStyle, dpi)) {
        ThrowLastError();
    }
    return {frame.right - frame.left, frame.bottom - frame.top};
}

std::wstring MainWindow::ButtonCaption() {
    return WindowText(Control(form1::ControlId::cmdStart));
}

void MainWindow::SetButtonCaption(std::wstring_view caption) {
    SetWindowTextOrThrow(Control(form1::ControlId::cmdStart), caption);
}

std::wstring MainWindow::TargetText() {
    return WindowText(Control(form1::ControlId::txtTarget));
}

void MainWindow::SetTargetText(std::wstring_view text) {
    SetWindowTextOrThrow(Control(form1::ControlId::txtTarget), text);
}

void MainWindow::ShowMessage(std::wstring_view text, std::wstring_view title) {
    messageOpen_ = true;
    const struct MessageClosed {
        bool& open;
        ~MessageClosed() { open = false; }
    } messageClosed{messageOpen_};
    if (::MessageBoxW(window_.get(), std::wstring(text).c_str(), std::wstring(title).c_str(),
                      MB_OK) == 0) {
        ThrowLastError();
    }
}

void MainWindow::SetTimerEnabled(bool enabled) {
    // Without a window SetTimer would make a thread timer whose ticks reach no one.
    if (!window_)
        throw ErrorFailure(ERROR_INVALID_WINDOW_HANDLE);
    if (!enabled) {
        // Switching off a timer that is off is no failure.
        ::KillTimer(window_.get(), kPollTimerId);
        return;
    }
    // Setting an existing timer again replaces it, which starts a fresh interval.
    if (::SetTimer(window_.get(), kPollTimerId, form1::kPollIntervalMs, nullptr) == 0) {
        ThrowLastError();
    }
}

void MainWindow::ProcessPendingEvents() {
    pump_.ProcessPending();
}

void MainWindow::Sleep(std::int32_t milliseconds) {
    const SequenceWait sequenceWait(sequenceWaits_);
    pump_.Sleep(milliseconds);
}

void MainWindow::SendKeys(const std::vector<KeyStroke>& strokes, bool wait) {
    // A window closed during an earlier pass must not get keys typed after it.
    if (!window_)
        throw WindowClosed{};
    const KeyWaitPump keyWait{[this](MSG& message) {
                                  pump_.Dispatch(message);
                                  return static_cast<bool>(window_);
                              },
                              [this](DWORD milliseconds) { return pump_.Idle(milliseconds); }};
    {
        const SequenceWait sequenceWait(sequenceWaits_);
        SendKeyStrokes(strokes, wait, keyWait, *rights_);
    }
    if (!window_)
        throw WindowClosed{};
}

void MainWindow::BlockShutdown(std::wstring_view reason) {
    // A failure costs only the reason shown; the run goes on either way.
    shutdownBlocked_ = !reason.empty();
    if (window_)
        SetShutdownBlockReason(window_.get(), reason);
}

bool MainWindow::ScreenLocked() {
    return sessionLocked_ || !InputDesktopIsOurs();
}

std::optional<std::int32_t> MainWindow::ScreenLockAfterSeconds() {
    return EarliestIdleLock(CurrentIdleLockSettings());
}

ForegroundProgram MainWindow::FrontProgram() {
    return CurrentForegroundProgram();
}

void MainWindow::KeepAwake(bool awake) {
    // Neither system sleep nor the display going dark while a run goes on: an export can take
    // minutes without a key. A screen lock the user has set up still comes (this request does not
    // stop it), and a locked workstation takes no synthesized keys. A failure here changes nothing
    // about the run, so it is not one of the run's failures.
    ::SetThreadExecutionState(awake ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED
                                    : ES_CONTINUOUS);
}

}  // namespace ordovan::win32
