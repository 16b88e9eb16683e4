#pragma once

#include <string>

namespace ordovan::win32 {

// The folder that holds the running executable, without a trailing separator except for a drive
// root ("C:\").
std::wstring ExecutableDirectory();

}  // namespace ordovan::win32
