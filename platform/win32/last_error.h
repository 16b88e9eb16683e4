#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/failure.h"

namespace ordovan::win32 {

// The system's description of a Win32 error number, in the system's language, without the
// trailing line break; empty when the system has none.
std::wstring DescribeError(DWORD error);

// A Failure for the given Win32 error number, described by the system.
Failure ErrorFailure(DWORD error);

// Throws a Failure for GetLastError(); a caller that saw an API fail while the thread's last error
// is 0 still gets a failure (ERROR_GEN_FAILURE), never a silent success.
[[noreturn]] void ThrowLastError();

}  // namespace ordovan::win32
