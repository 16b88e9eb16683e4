#include "bench/helper_modes.h"

#include <windows.h>

#include "bench/stopwatch.h"
#include "platform/win32/handles.h"
#include "platform/win32/last_error.h"

namespace ordovan::bench {

namespace {

constexpr wchar_t kIdleWindowClass[] = L"OrdovanBenchIdleWindow";
constexpr wchar_t kIdleWindowTitle[] = L"Ordovan Bench";
constexpr int kIdleWindowWidth = 320;
constexpr int kIdleWindowHeight = 200;

LRESULT CALLBACK IdleWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

void Spin(int milliseconds) {
    const Stopwatch stopwatch;
    while (stopwatch.ElapsedMs() < milliseconds) {
    }
}

int RunIdleWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = IdleWindowProcedure;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kIdleWindowClass;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    if (::RegisterClassW(&windowClass) == 0)
        win32::ThrowLastError();
    const win32::UniqueWindow window(
        ::CreateWindowW(kIdleWindowClass, kIdleWindowTitle, WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                        CW_USEDEFAULT, CW_USEDEFAULT, kIdleWindowWidth, kIdleWindowHeight, nullptr,
                        nullptr, windowClass.hInstance, nullptr));
    if (!window)
        win32::ThrowLastError();
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}

}  // namespace ordovan::bench
