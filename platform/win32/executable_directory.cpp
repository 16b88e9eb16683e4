#include "platform/win32/executable_directory.h"

#include <windows.h>

#include "platform/win32/last_error.h"

namespace ordovan::win32 {

namespace {
constexpr DWORD kFirstPathBufferLength = MAX_PATH;
constexpr DWORD kLongestPath = 32768;

std::wstring ModulePath() {
    std::wstring path;
    for (DWORD capacity = kFirstPathBufferLength; capacity <= kLongestPath; capacity *= 2) {
        path.resize(capacity);
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), capacity);
        if (length == 0)
            ThrowLastError();
        if (length < capacity) {
            path.resize(length);
            return path;
        }
    }
    throw ErrorFailure(ERROR_INSUFFICIENT_BUFFER);
}

}  // namespace

std::wstring ExecutableDirectory() {
    std::wstring path = ModulePath();
    const auto separator = path.find_last_of(L'\\');
    if (separator == std::wstring::npos)
        return path;
    // Keep the separator of a drive root, so that "C:\" does not become the drive-relative "C:".
    const bool driveRoot = separator == 2 && path[1] == L':';
    path.resize(driveRoot ? separator + 1 : separator);
    return path;
}

}  // namespace ordovan::win32
