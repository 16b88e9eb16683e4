#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

#include "platform/win32/handles.h"

namespace ordovan::test {

// A program started by a test, the demo or the benchmark.
struct Launched {
    win32::UniqueKernelHandle process;
    DWORD processId = 0;
    DWORD threadId = 0;

    explicit operator bool() const { return static_cast<bool>(process); }
};

// Starts the program with the arguments (the program's path quoted in front of them), in
// `workingFolder` when one is given. Empty when it cannot be started; GetLastError says why.
Launched Launch(const std::filesystem::path& program, const std::wstring& arguments,
                const std::filesystem::path& workingFolder = {});

}  // namespace ordovan::test
