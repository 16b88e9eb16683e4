#pragma once

#include <windows.h>

#include <array>

#include "platform/win32/handles.h"
#include "platform/win32/input_rights.h"
#include "platform/win32/message_pump.h"
#include "platform/window_system.h"
#include "window/form1_design.h"

namespace ordovan::win32 {

// The main window on Win32: creates the window and its controls from the design, lays them out
// for the window's DPI, routes clicks and timer ticks to the window's logic, and realises the
// window system that logic talks to.
class MainWindow final : public WindowSystem {
  public:
    MainWindow() = default;
    // `rights` decides whether keys may be typed into the focused window (tests pretend).
    explicit MainWindow(InputRights& rights) : rights_(&rights) {}
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;
    // The logic may be gone already: the window destroyed now reports nothing to it.
    ~MainWindow() { events_ = nullptr; }

    // Creates the (still hidden) window with its controls. Throws ordovan::Failure.
    void Create(HINSTANCE instance, WindowEvents& events);
    // Shows the window and puts the focus on the Start button.
    void Show(int showCommand);
    // The program's message loop; returns the exit code once the window has been closed.
    int RunMessageLoop() { return pump_.Run(); }

    HWND Handle() const { return window_.get(); }
    HWND Control(form1::ControlId id) const;

    std::wstring ButtonCaption() override;
    void SetButtonCaption(std::wstring_view caption) override;
    std::wstring TargetText() override;
    void SetTargetText(std::wstring_view text) override;
    void ShowMessage(std::wstring_view text, std::wstring_view title) override;
    void SetTimerEnabled(bool enabled) override;
    void ProcessPendingEvents() override;
    void Sleep(std::int32_t milliseconds) override;
    void SendKeys(const std::vector<KeyStroke>& strokes, bool wait) override;
    void KeepAwake(bool awake) override;
    void BlockShutdown(std::wstring_view reason) override;
    void MarkHandOver(bool handingOver) override { handingOver_ = handingOver; }
    bool ScreenLocked() override;
    std::optional<std::int32_t> ScreenLockAfterSeconds() override;
    ForegroundProgram FrontProgram() override;

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam,
                                       LPARAM lParam) noexcept;
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    void OnCreate();
    void OnCommand(int controlId, int notification);
    void OnTimer(UINT_PTR timerId);
    void OnActivate(bool active);
    void OnDpiChanged(UINT dpi, const RECT& suggested);
    void OnDestroy();
    void OnSessionChange(WPARAM change);
    LRESULT OnQueryEndSession();
    void OnEndSession(bool ending);
    void OnNcDestroy();

    void FocusStart();
    void CreateControls();
    void ApplyDpi(UINT dpi);
    void FitClientArea(UINT dpi);
    SIZE WindowSizeForClient(UINT dpi) const;

    UniqueWindow window_;
    MessagePump pump_{window_};
    InputRights* rights_ = &SystemInputRights();
    std::array<HWND, form1::kControls.size()> controls_{};
    UniqueFont font_;
    WindowEvents* events_ = nullptr;
    HWND focusBeforeDeactivation_ = nullptr;
    bool messageOpen_ = false;
    // A sequence waits (a sleep or a key wait): a click must not activate the window, or the
    // rest of the keys would be typed into it instead of the imaging application.
    bool sequenceWaits_ = false;
    // From the first key of a hand-over to its last, its event passes included.
    bool handingOver_ = false;
    // Windows reported the session locked, and not yet unlocked.
    bool sessionLocked_ = false;
    // A run goes on: Windows asked to end the session is refused, with the reason shown.
    bool shutdownBlocked_ = false;
};

}  // namespace ordovan::win32
