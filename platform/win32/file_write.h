#pragma once

#include <windows.h>

#include <string_view>

namespace ordovan::win32 {

// Writes all the bytes to the open file in one call. A disk file takes fewer bytes than offered
// only when the disk is full; that fails too, as ERROR_DISK_FULL.
void WriteWhole(HANDLE file, std::string_view bytes);

}  // namespace ordovan::win32
