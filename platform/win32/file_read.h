#pragma once

#include <windows.h>

#include <cstddef>

namespace ordovan::win32 {

// Reads into the buffer until it is full or the file ends; answers how many bytes came. ReadFile
// may answer with fewer bytes than asked before the end (a network file): only zero bytes read
// means the end.
std::size_t ReadUpTo(HANDLE file, void* buffer, std::size_t size);

}  // namespace ordovan::win32
