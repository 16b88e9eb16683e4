#include "platform/win32/foreground_program.h"

#include <windows.h>

#include <array>

#include "platform/win32/handles.h"

namespace ordovan::win32 {

namespace {

constexpr int kTitleChars = 256;

// The executable's file name without its folder; empty when the process cannot be asked (one of
// another account may refuse even this).
std::wstring ProgramFileName(DWORD processId) {
    const UniqueKernelHandle process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process)
        return {};
    std::array<wchar_t, MAX_PATH * 4> path{};
    DWORD length = static_cast<DWORD>(path.size());
    if (!::QueryFullProcessImageNameW(process.get(), 0, path.data(), &length))
        return {};
    const std::wstring full(path.data(), length);
    const std::size_t slash = full.find_last_of(L"\\/");
    return slash == std::wstring::npos ? full : full.substr(slash + 1);
}

}  // namespace

ForegroundProgram CurrentForegroundProgram() {
    ForegroundProgram program;
    const HWND front = ::GetForegroundWindow();
    if (front == nullptr)
        return program;
    DWORD processId = 0;
    ::GetWindowThreadProcessId(front, &processId);
    program.processId = processId;
    program.fileName = ProgramFileName(processId);
    // Another process's title is read without a message to it, so a hung program cannot hold
    // us up here.
    std::array<wchar_t, kTitleChars> title{};
    program.windowTitle.assign(
        title.data(), static_cast<std::size_t>(
                          ::GetWindowTextW(front, title.data(), static_cast<int>(title.size()))));
    return program;
}

}  // namespace ordovan::win32
