#include "platform/win32/long_path.h"

#include <windows.h>

#include "platform/win32/last_error.h"

namespace ordovan::win32 {

namespace {

constexpr std::wstring_view kExtendedPrefix = L"\\\\?\\";
constexpr std::wstring_view kExtendedUncPrefix = L"\\\\?\\UNC\\";
constexpr std::wstring_view kDevicePrefixes[] = {L"\\\\?\\", L"\\\\.\\", L"\\??\\"};
constexpr std::wstring_view kUncPrefix = L"\\\\";
constexpr DWORD kUsualPathLength = MAX_PATH;

bool IsDeviceForm(std::wstring_view path) {
    for (const std::wstring_view prefix : kDevicePrefixes) {
        if (path.starts_with(prefix))
            return true;
    }
    return false;
}

bool IsDriveLetter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

bool IsFullDrivePath(std::wstring_view path) {
    return path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == L':' && path[2] == L'\\';
}

}  // namespace

std::wstring ExtendedLengthForm(std::wstring_view fullPath) {
    if (IsDeviceForm(fullPath))
        return std::wstring(fullPath);
    if (IsFullDrivePath(fullPath))
        return std::wstring(kExtendedPrefix) + std::wstring(fullPath);
    if (fullPath.starts_with(kUncPrefix))
        return std::wstring(kExtendedUncPrefix) + std::wstring(fullPath.substr(kUncPrefix.size()));
    return std::wstring(fullPath);
}

std::wstring ExtendedLengthPath(std::wstring_view path) {
    // Device forms go to the system unparsed; normalising them would change what they name.
    if (path.empty() || IsDeviceForm(path))
        return std::wstring(path);
    const std::wstring input(path);
    // The usual path fits the first buffer, so one call does for nearly every path (the count
    // asks for every subfolder's lock file). A longer one is asked for again at the length the
    // answer names, and again if it grew in between (the current folder changed).
    std::wstring full;
    DWORD capacity = kUsualPathLength;
    for (;;) {
        full.resize(capacity);
        const DWORD length = ::GetFullPathNameW(input.c_str(), capacity, full.data(), nullptr);
        if (length == 0)
            ThrowLastError();
        if (length < capacity) {
            full.resize(length);
            return ExtendedLengthForm(full);
        }
        capacity = length;  // the length needed, its terminator included
    }
}

}  // namespace ordovan::win32
