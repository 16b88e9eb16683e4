#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "platform/win32/handles.h"
#include "tests/launch.h"

// Looks at another process from outside: its CPU time and its peak working set, and starts the
// bench's own helper processes.
namespace ordovan::bench {

// Kernel plus user time of the process's threads that run now, in ms. Wine's GetProcessTimes
// answers for another process with the caller's own times; the threads' times are the process's
// own.
double ThreadCpuMs(DWORD processId);

// GetProcessMemoryInfo's PeakWorkingSetSize, in bytes.
std::size_t PeakWorkingSetBytes(HANDLE process);

using ChildProcess = test::Launched;

// Starts this executable again with the arguments.
ChildProcess StartSelf(const std::wstring& arguments);

// Asks the child's main thread to quit; ends the process when it has not within the timeout.
void EndChild(ChildProcess& child, DWORD timeoutMs);

}  // namespace ordovan::bench
