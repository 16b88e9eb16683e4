#include "bench/process_probe.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "platform/win32/last_error.h"
#include "tests/launch.h"

namespace ordovan::bench {

namespace {

constexpr double kFileTimeUnitsPerMs = 10000.0;
constexpr DWORD kModulePathCapacity = 32768;

double FileTimeMs(const FILETIME& time) {
    ULARGE_INTEGER value{};
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<double>(value.QuadPart) / kFileTimeUnitsPerMs;
}

double ThreadTimesMs(DWORD threadId) {
    const win32::UniqueKernelHandle thread(
        ::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, threadId));
    FILETIME creation{}, exit{}, kernel{}, user{};
    // A thread that ended since the snapshot has no more time to add.
    if (!thread || !::GetThreadTimes(thread.get(), &creation, &exit, &kernel, &user))
        return 0.0;
    return FileTimeMs(kernel) + FileTimeMs(user);
}

std::wstring ModulePath() {
    std::wstring path(kModulePathCapacity, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), kModulePathCapacity);
    if (length == 0)
        win32::ThrowLastError();
    path.resize(length);
    return path;
}

}  // namespace

double ThreadCpuMs(DWORD processId) {
    // A snapshot handle is invalid as INVALID_HANDLE_VALUE and closed with CloseHandle.
    const win32::UniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot)
        win32::ThrowLastError();
    double totalMs = 0.0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more;
         more = ::Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID == processId)
            totalMs += ThreadTimesMs(entry.th32ThreadID);
    }
    return totalMs;
}

std::size_t PeakWorkingSetBytes(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (!::GetProcessMemoryInfo(process, &counters, sizeof(counters)))
        win32::ThrowLastError();
    return counters.PeakWorkingSetSize;
}

ChildProcess StartSelf(const std::wstring& arguments) {
    test::Launched child = test::Launch(ModulePath(), arguments);
    if (!child)
        win32::ThrowLastError();
    return child;
}

void EndChild(ChildProcess& child, DWORD timeoutMs) {
    ::PostThreadMessageW(child.threadId, WM_QUIT, 0, 0);
    if (::WaitForSingleObject(child.process.get(), timeoutMs) != WAIT_OBJECT_0)
        ::TerminateProcess(child.process.get(), 1);
}

}  // namespace ordovan::bench
