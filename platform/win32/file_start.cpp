// The header read of one image, beside the rest of the file work.
#include <windows.h>

#include <algorithm>

#include "platform/win32/file_read.h"
#include "platform/win32/handles.h"
#include "platform/win32/last_error.h"
#include "platform/win32/long_path.h"
#include "platform/win32/win32_file_system.h"

namespace ordovan::win32 {

std::vector<std::uint8_t> Win32FileSystem::ReadFileStart(std::wstring_view path,
                                                         std::size_t maxBytes) {
    // Shared for reading, writing and deletion, so that the read never gets in the way of the
    // imaging application or of the deletion that follows.
    const UniqueFile file(::CreateFileW(ExtendedLengthPath(path).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                                        nullptr));
    if (!file)
        ThrowLastError();
    std::vector<std::uint8_t> bytes(std::min<std::size_t>(maxBytes, MAXDWORD));
    bytes.resize(ReadUpTo(file.get(), bytes.data(), bytes.size()));
    return bytes;
}

}  // namespace ordovan::win32
