#include "tests/launch.h"

namespace ordovan::test {

Launched Launch(const std::filesystem::path& program, const std::wstring& arguments,
                const std::filesystem::path& workingFolder) {
    std::wstring commandLine = L"\"" + program.wstring() + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup,
                          &started)) {
        return {};
    }
    const win32::UniqueKernelHandle thread(started.hThread);
    return {win32::UniqueKernelHandle(started.hProcess), started.dwProcessId, started.dwThreadId};
}

}  // namespace ordovan::test
