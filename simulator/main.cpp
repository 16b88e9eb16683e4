// OrdovanSimulator: a stand-in for the imaging application, for end-to-end tests of the tool. It
// takes the keyboard focus, records every key it receives, exports a patient's images into the
// watch folder when the tool types Home, Shift+End, Enter, marks the export finished with lock
// files it holds open, and lets go of them on Alt+F, A. Built with the product, never shipped.
//
// Options: --log <path> --watch <folder> --patients <n> --series <n per patient>
//          --images <n per series> --lock-delay <ms> --reference <folder> --title <text>
//
// Event log lines (ASCII, CR LF, each flushed at once; <ms> is milliseconds since start, with
// three decimals):
//   <ms> ready                                   window shown, foreground and focused
//   <ms> key <down|up> <vk> <ext> <shift> <ctrl> <alt>
//                                                every WM_(SYS)KEYDOWN/UP, modifier keys too;
//                                                ext is lParam bit 24, the modifiers 0 or 1
//   <ms> export <patient> <folders> <images>     Enter right after Shift+End: images written
//   <ms> no-patient-left                         the same once every patient is exported
//   <ms> ignored-enter                           Enter after any other key
//   <ms> locked <patient>                        --lock-delay later: LOCK.LCK files held open
//   <ms> released <patient>                      A right after Alt+F: that patient's locks closed
//   <ms> ignored-release                         the same while no lock file is held
//   <ms> error <number> <export|lock>            a file operation failed (Win32 error number)
#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/failure.h"
#include "platform/win32/handles.h"
#include "platform/win32/last_error.h"
#include "simulator/export_folder.h"
#include "simulator/key_log.h"
#include "simulator/key_triggers.h"
#include "simulator/options.h"

namespace ordovan::simulator {
namespace {

constexpr wchar_t kClassName[] = L"OrdovanSimulator";
// Below where Copy Ordovan's window opens on a fresh desktop, so that both can be seen.
constexpr int kWindowLeft = 0;
constexpr int kWindowTop = 130;
constexpr int kWindowWidth = 300;
constexpr int kWindowHeight = 200;
constexpr int kStartFailedExitCode = 1;

// Study, series and image UIDs of this run hang below a root taken from the clock.
std::string RunUidRoot() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const std::uint64_t stamp =
        (static_cast<std::uint64_t>(now.dwHighDateTime) << 32U) | now.dwLowDateTime;
    return "2.25." + std::to_string(stamp);
}

class Simulator {
  public:
    explicit Simulator(const Options& options)
        : options_(options), log_(options.logPath), folder_(options, RunUidRoot()) {}

    void Open(HINSTANCE instance);
    int Run();

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam,
                                       LPARAM lParam) noexcept;
    LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnKey(UINT message, WPARAM virtualKey, LPARAM flags);
    void ExportNextPatient();
    void LockPatient(UINT_PTR patient);
    void ReleaseFiles();
    void Log(const std::string& event);
    void Paint();

    const Options& options_;
    EventLog log_;
    ExportFolder folder_;
    KeyTriggers triggers_;
    int exported_ = 0;
    win32::UniqueWindow window_;
};

void Simulator::Open(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &Simulator::WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kClassName;
    if (::RegisterClassExW(&windowClass) == 0)
        win32::ThrowLastError();
    // No menu: nothing may turn Alt+F into a menu loop that swallows the keys after it.
    if (::CreateWindowExW(0, kClassName, options_.title.c_str(), WS_OVERLAPPEDWINDOW, kWindowLeft,
                          kWindowTop, kWindowWidth, kWindowHeight, nullptr, nullptr, instance,
                          this) == nullptr) {
        win32::ThrowLastError();
    }
    ::ShowWindow(window_.get(), SW_SHOW);
    ::UpdateWindow(window_.get());
    ::SetForegroundWindow(window_.get());
    ::SetFocus(window_.get());
    Log("ready");
}

int Simulator::Run() {
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

LRESULT CALLBACK Simulator::WindowProc(HWND window, UINT message, WPARAM wParam,
                                       LPARAM lParam) noexcept {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<Simulator*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->window_.reset(window);
    }
    auto* self = reinterpret_cast<Simulator*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr)
        return ::DefWindowProcW(window, message, wParam, lParam);
    try {
        return self->Handle(window, message, wParam, lParam);
    } catch (...) {
        // The event log itself failed; nothing may unwind into Windows.
        return 0;
    }
}

LRESULT Simulator::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_KEYDOWN:
        case WM_KEYUP:
            OnKey(message, wParam, lParam);
            return 0;
        // Never passed on: the default handling would start the system menu's keyboard loop
        // on Alt and on Alt+letter, and that loop would swallow the keys that follow.
        case WM_SYSKEYDOWN:
        case WM_SYSKEYUP:
            OnKey(message, wParam, lParam);
            return 0;
        case WM_SYSCHAR:
            return 0;
        case WM_TIMER:
            LockPatient(wParam);
            return 0;
        case WM_PAINT:
            Paint();
            return 0;
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return 0;
        case WM_NCDESTROY:
            window_.release();
            break;
        default:
            break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

void Simulator::OnKey(UINT message, WPARAM virtualKey, LPARAM flags) {
    Log(KeyEvent(message, virtualKey, flags));
    if (message != WM_KEYDOWN && message != WM_SYSKEYDOWN)
        return;
    const bool shift = ::GetKeyState(VK_SHIFT) < 0;
    const bool alt = ::GetKeyState(VK_MENU) < 0;
    switch (triggers_.OnKeyDown(virtualKey, shift, alt)) {
        case KeyAction::Export:
            ExportNextPatient();
            break;
        case KeyAction::IgnoredEnter:
            Log("ignored-enter");
            break;
        case KeyAction::Release:
            ReleaseFiles();
            break;
        case KeyAction::None:
            break;
    }
}

void Simulator::ExportNextPatient() {
    if (exported_ >= options_.patients) {
        Log("no-patient-left");
        return;
    }
    const int patient = ++exported_;
    try {
        const int images = folder_.Export(patient);
        Log("export " + std::to_string(patient) + " " + std::to_string(options_.seriesPerPatient) +
            " " + std::to_string(images));
        // The timer's id is the patient whose export it finishes.
        if (::SetTimer(window_.get(), static_cast<UINT_PTR>(patient), options_.lockDelayMs,
                       nullptr) == 0) {
            win32::ThrowLastError();
        }
    } catch (const Failure& failure) {
        Log("error " + std::to_string(failure.Number()) + " export");
    }
}

void Simulator::LockPatient(UINT_PTR patient) {
    ::KillTimer(window_.get(), patient);
    try {
        folder_.Lock(static_cast<int>(patient));
        Log("locked " + std::to_string(patient));
    } catch (const Failure& failure) {
        Log("error " + std::to_string(failure.Number()) + " lock");
    }
}

void Simulator::ReleaseFiles() {
    const std::vector<int> patients = folder_.Release();
    if (patients.empty())
        Log("ignored-release");
    for (const int patient : patients)
        Log("released " + std::to_string(patient));
}

void Simulator::Log(const std::string& event) {
    log_.Write(event);
    if (window_)
        ::InvalidateRect(window_.get(), nullptr, TRUE);
}

void Simulator::Paint() {
    std::wstring text;
    for (const std::string& line : log_.Recent())
        text += std::wstring(line.begin(), line.end()) + L"\n";
    PAINTSTRUCT paint{};
    const HDC context = ::BeginPaint(window_.get(), &paint);
    RECT client{};
    ::GetClientRect(window_.get(), &client);
    ::DrawTextW(context, text.c_str(), -1, &client, DT_LEFT | DT_TOP | DT_NOPREFIX);
    ::EndPaint(window_.get(), &paint);
}

}  // namespace
}  // namespace ordovan::simulator

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    using namespace ordovan::simulator;
    try {
        const Options options = ParseOptions(CommandLineArguments());
        Simulator simulator(options);
        simulator.Open(instance);
        return simulator.Run();
    } catch (...) {
        // Bad options or no window: nothing to show; the test sees the exit code.
        return kStartFailedExitCode;
    }
}
