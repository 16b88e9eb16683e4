#include "platform/win32/win32_file_system.h"

#include <windows.h>

#include <climits>
#include <string>
#include <vector>

#include "platform/win32/handles.h"
#include "platform/win32/last_error.h"

// <windows.h> maps CopyFile to CopyFileW; our interface has a member of that name.
#undef CopyFile

namespace ordovan::win32 {

namespace {

constexpr std::wstring_view kAllEntries = L"*";

bool EndsWithSeparator(std::wstring_view path) {
    return !path.empty() && (path.back() == L'\\' || path.back() == L'/');
}

std::wstring Join(std::wstring_view folder, std::wstring_view name) {
    std::wstring path(folder);
    if (!path.empty() && !EndsWithSeparator(path))
        path += L'\\';
    path += name;
    return path;
}

// The folder part of a wildcard pattern, up to and including its last separator ("" for a bare
// name).
std::wstring_view PatternFolder(std::wstring_view pattern) {
    const auto separator = pattern.find_last_of(L"\\/");
    return separator == std::wstring_view::npos ? std::wstring_view{}
                                                : pattern.substr(0, separator + 1);
}

bool IsDirectory(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsDotEntry(const WIN32_FIND_DATAW& entry) {
    const std::wstring_view name = entry.cFileName;
    return name == L"." || name == L"..";
}

struct Entry {
    std::wstring name;
    DWORD attributes;
};

// Every entry the platform matches for the pattern, "." and ".." left out. A pattern that matches
// nothing at all yields an empty list; a folder that cannot be searched is a failure.
std::vector<Entry> FindEntries(const std::wstring& pattern, FINDEX_SEARCH_OPS search) {
    std::vector<Entry> entries;
    WIN32_FIND_DATAW data{};
    UniqueFind find(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, search, nullptr,
                                       FIND_FIRST_EX_LARGE_FETCH));
    if (!find) {
        if (::GetLastError() == ERROR_FILE_NOT_FOUND)
            return entries;
        ThrowLastError();
    }
    do {
        if (!IsDotEntry(data))
            entries.push_back({data.cFileName, data.dwFileAttributes});
    } while (::FindNextFileW(find.get(), &data));
    if (::GetLastError() != ERROR_NO_MORE_FILES)
        ThrowLastError();
    return entries;
}

DWORD AttributesOrThrow(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        ThrowLastError();
    return attributes;
}

void ClearReadOnly(const std::wstring& path, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) == 0)
        return;
    if (!::SetFileAttributesW(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY})) {
        ThrowLastError();
    }
}

void DeleteEntryFile(const std::wstring& path, DWORD attributes, bool force) {
    if (force)
        ClearReadOnly(path, attributes);
    if (!::DeleteFileW(path.c_str()))
        ThrowLastError();
}

void RemoveEmptyFolder(const std::wstring& path) {
    if (!::RemoveDirectoryW(path.c_str()))
        ThrowLastError();
}

void RemoveTree(const std::wstring& folder, DWORD attributes, bool force) {
    // Cleared before the content goes: a read-only folder may refuse to give up its entries.
    if (force)
        ClearReadOnly(folder, attributes);
    for (const Entry& entry : FindEntries(Join(folder, kAllEntries), FindExSearchNameMatch)) {
        const std::wstring path = Join(folder, entry.name);
        if (!IsDirectory(entry.attributes)) {
            DeleteEntryFile(path, entry.attributes, force);
        } else if ((entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            // A junction or linked folder: only the link goes, never what it points to.
            if (force)
                ClearReadOnly(path, entry.attributes);
            RemoveEmptyFolder(path);
        } else {
            RemoveTree(path, entry.attributes, force);
        }
    }
    RemoveEmptyFolder(folder);
}

// Windows refuses to replace a read-only file; Wine's CopyFileW replaces it silently, so the
// refusal is made here to behave alike on both.
void RefuseReadOnlyTarget(const std::wstring& target) {
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        throw ErrorFailure(ERROR_ACCESS_DENIED);
    }
}

std::string ToAnsi(std::wstring_view text) {
    if (text.empty())
        return {};
    if (text.size() > static_cast<std::size_t>(INT_MAX))
        throw ErrorFailure(ERROR_INVALID_PARAMETER);
    const int wideLength = static_cast<int>(text.size());
    const int length =
        ::WideCharToMultiByte(CP_ACP, 0, text.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (length == 0)
        ThrowLastError();
    std::string bytes(static_cast<std::size_t>(length), '\0');
    if (::WideCharToMultiByte(CP_ACP, 0, text.data(), wideLength, bytes.data(), length, nullptr,
                              nullptr) == 0) {
        ThrowLastError();
    }
    return bytes;
}

UniqueFile OpenFile(std::wstring_view path, DWORD access, DWORD disposition) {
    UniqueFile file(::CreateFileW(std::wstring(path).c_str(), access, FILE_SHARE_READ, nullptr,
                                  disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        ThrowLastError();
    return file;
}

}  // namespace

std::vector<std::wstring> Win32FileSystem::SubFolders(std::wstring_view folder) {
    const std::vector<Entry> entries =
        FindEntries(Join(folder, kAllEntries), FindExSearchLimitToDirectories);
    // A drive root has no "." entry, so an empty one matches nothing; a missing folder must still
    // fail.
    if (entries.empty() && !FolderExists(folder))
        throw ErrorFailure(ERROR_PATH_NOT_FOUND);
    std::vector<std::wstring> folders;
    for (const Entry& entry : entries) {
        // The directory limit is only a hint to the file system; files can still come back.
        if (IsDirectory(entry.attributes))
            folders.push_back(Join(folder, entry.name));
    }
    return folders;
}

void Win32FileSystem::CopyFile(std::wstring_view sourcePattern, std::wstring_view destination,
                               bool overwrite) {
    if (!FolderExists(destination))
        throw ErrorFailure(ERROR_PATH_NOT_FOUND);
    const std::wstring_view sourceFolder = PatternFolder(sourcePattern);
    bool copiedAny = false;
    for (const Entry& entry : FindEntries(std::wstring(sourcePattern), FindExSearchNameMatch)) {
        if (IsDirectory(entry.attributes))
            continue;
        const std::wstring source = std::wstring(sourceFolder) + entry.name;
        const std::wstring target = Join(destination, entry.name);
        if (overwrite)
            RefuseReadOnlyTarget(target);
        if (!::CopyFileW(source.c_str(), target.c_str(), !overwrite))
            ThrowLastError();
        copiedAny = true;
    }
    if (!copiedAny)
        throw ErrorFailure(ERROR_FILE_NOT_FOUND);
}

void Win32FileSystem::DeleteFolder(std::wstring_view folder, bool force) {
    const std::wstring path(folder);
    const DWORD attributes = AttributesOrThrow(path);
    if (!IsDirectory(attributes))
        throw ErrorFailure(ERROR_PATH_NOT_FOUND);
    RemoveTree(path, attributes, force);
}

bool Win32FileSystem::FolderExists(std::wstring_view path) {
    const DWORD attributes = ::GetFileAttributesW(std::wstring(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && IsDirectory(attributes);
}

bool Win32FileSystem::FileExists(std::wstring_view path) {
    const DWORD attributes = ::GetFileAttributesW(std::wstring(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !IsDirectory(attributes);
}

void Win32FileSystem::CreateFolder(std::wstring_view path) {
    if (!::CreateDirectoryW(std::wstring(path).c_str(), nullptr))
        ThrowLastError();
}

void Win32FileSystem::CreateTextFile(std::wstring_view path) {
    OpenFile(path, GENERIC_WRITE, CREATE_ALWAYS);
}

void Win32FileSystem::AppendLine(std::wstring_view path, std::wstring_view line) {
    std::wstring text(line);
    text += L"\r\n";
    // Converted before the file is touched, so a line that cannot be converted leaves no trace.
    const std::string bytes = ToAnsi(text);
    const UniqueFile file = OpenFile(path, FILE_APPEND_DATA, OPEN_ALWAYS);
    const auto size = static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!::WriteFile(file.get(), bytes.data(), size, &written, nullptr))
        ThrowLastError();
    // A disk file takes fewer bytes than offered only when the disk is full.
    if (written != size)
        throw ErrorFailure(ERROR_DISK_FULL);
}

std::uint32_t Win32FileSystem::GetAttributes(std::wstring_view path) {
    return AttributesOrThrow(std::wstring(path));
}

}  // namespace ordovan::win32
