#include "bench/bench_paths.h"

#include <windows.h>

#include <string>

#include "platform/win32/last_error.h"

namespace ordovan::bench {

namespace {

constexpr std::wstring_view kBenchRoot = L"OrdovanBench\\";

}  // namespace

std::wstring BenchFolder(std::wstring_view name) {
    wchar_t temp[MAX_PATH + 1] = {};
    // The answer ends with a backslash.
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0)
        win32::ThrowLastError();
    if (length > MAX_PATH)
        throw win32::ErrorFailure(ERROR_BUFFER_OVERFLOW);
    return std::wstring(temp, length) + std::wstring(kBenchRoot) + std::wstring(name);
}

std::wstring BenchFolder(std::wstring_view name, int number) {
    return BenchFolder(name) + std::to_wstring(number);
}

}  // namespace ordovan::bench
