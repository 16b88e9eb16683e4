#include "platform/win32/file_read.h"

#include <algorithm>

#include "platform/win32/last_error.h"

namespace ordovan::win32 {

std::size_t ReadUpTo(HANDLE file, void* buffer, std::size_t size) {
    auto* bytes = static_cast<char*>(buffer);
    std::size_t total = 0;
    while (total < size) {
        const auto ask = static_cast<DWORD>(std::min<std::size_t>(size - total, MAXDWORD));
        DWORD read = 0;
        if (!::ReadFile(file, bytes + total, ask, &read, nullptr))
            ThrowLastError();
        if (read == 0)
            break;
        total += read;
    }
    return total;
}

}  // namespace ordovan::win32
