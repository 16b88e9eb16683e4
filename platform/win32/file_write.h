#pragma once

#include <windows.h>

#include <string_view>

namespace ordovan::win32 {

// Writes all the bytes to the open file in one call, so that a line or row lands whole or not at
// all. A disk file takes fewer bytes than offered only when the disk is full, which fails too.
void WriteWhole(HANDLE file, std::string_view bytes);

}  // namespace ordovan::win32
