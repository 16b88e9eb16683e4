#include "platform/win32/win32_journal_file.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/win32/file_write.h"
#include "platform/win32/file_read.h"
#include "platform/win32/handles.h"
#include "platform/win32/last_error.h"
#include "platform/win32/long_path.h"

namespace ordovan::win32 {

namespace {

// What CreateFileW with CREATE_NEW and MoveFileExW without MOVEFILE_REPLACE_EXISTING answer for a
// name that is taken.
bool NameTaken(DWORD error) {
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

}  // namespace

void Win32JournalFile::Append(std::wstring_view path, std::string_view opening,
                              std::string_view bytes) {
    // Others may read the journal meanwhile (Excel, a viewer); a program holding it for writing
    // makes the open fail, and the row waits for the next one.
    const UniqueFile file(::CreateFileW(ExtendedLengthPath(path).c_str(),
                                        FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        ThrowLastError();
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size))
        ThrowLastError();
    std::string text;
    if (size.QuadPart == 0)
        text = opening;
    text += bytes;
    // One write per row, so that a row lands whole or, on a full disk, is tried again whole.
    WriteWhole(file.get(), text);
}

bool Win32JournalFile::Create(std::wstring_view path, std::string_view bytes) {
    const UniqueFile file(::CreateFileW(ExtendedLengthPath(path).c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                        nullptr));
    if (!file) {
        if (NameTaken(::GetLastError()))
            return false;
        ThrowLastError();
    }
    WriteWhole(file.get(), bytes);
    return true;
}

std::string Win32JournalFile::ReadStart(std::wstring_view path, std::size_t count) {
    // Excel holds an open journal for writing and lets others read it.
    const UniqueFile file(::CreateFileW(ExtendedLengthPath(path).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return {};
        ThrowLastError();
    }
    std::string bytes(std::min<std::size_t>(count, MAXDWORD), '\0');
    bytes.resize(ReadUpTo(file.get(), bytes.data(), bytes.size()));
    return bytes;
}

bool Win32JournalFile::Rename(std::wstring_view from, std::wstring_view to) {
    if (::MoveFileExW(ExtendedLengthPath(from).c_str(), ExtendedLengthPath(to).c_str(), 0))
        return true;
    if (NameTaken(::GetLastError()))
        return false;
    ThrowLastError();
}

}  // namespace ordovan::win32
