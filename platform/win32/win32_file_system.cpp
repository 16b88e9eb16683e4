#include "platform/win32/win32_file_system.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "platform/win32/handles.h"
#include "platform/win32/last_error.h"
#include "platform/win32/long_path.h"

// <windows.h> maps CopyFile to CopyFileW; our interface has a member of that name.
#undef CopyFile

namespace ordovan::win32 {

namespace {

constexpr std::wstring_view kAllEntries = L"*";

// Virus scanners, the search indexer, backup agents and thumbnailers open fresh files for a
// moment. A deletion that meets such a handle is tried again a few times, but not for so long
// that the window stops answering.
constexpr DWORD kDeleteRetryBudgetMs = 2000;
constexpr DWORD kDeleteRetryPauseMs = 250;

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
    std::uint64_t size;
    std::uint64_t lastWrite;
};

std::uint64_t Combine(DWORD high, DWORD low) {
    return (std::uint64_t{high} << 32) | low;
}

// Calls `visit` with every entry the platform matches for the pattern, "." and ".." left out. A
// pattern that matches nothing at all visits nothing; a folder that cannot be searched is a
// failure.
template <typename Visit>
void ForEachEntry(const std::wstring& pattern, FINDEX_SEARCH_OPS search, Visit visit) {
    WIN32_FIND_DATAW data{};
    UniqueFind find(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, search, nullptr,
                                       FIND_FIRST_EX_LARGE_FETCH));
    if (!find) {
        if (::GetLastError() == ERROR_FILE_NOT_FOUND)
            return;
        ThrowLastError();
    }
    do {
        if (!IsDotEntry(data))
            visit(data);
    } while (::FindNextFileW(find.get(), &data));
    if (::GetLastError() != ERROR_NO_MORE_FILES)
        ThrowLastError();
}

std::vector<Entry> FindEntries(const std::wstring& pattern, FINDEX_SEARCH_OPS search) {
    std::vector<Entry> entries;
    ForEachEntry(pattern, search, [&](const WIN32_FIND_DATAW& data) {
        entries.push_back(
            {data.cFileName, data.dwFileAttributes, Combine(data.nFileSizeHigh, data.nFileSizeLow),
             Combine(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime)});
    });
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

// Errors another program's brief handle causes: the file is open without delete sharing, it is
// deleted but still open (access denied), or the folder still lists such a file (not empty).
bool MayPassSoon(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_DIR_NOT_EMPTY;
}

// The time one deletion may spend waiting for other programs' brief handles. Only the step that
// met the handle is tried again, never a fresh listing: a file that arrives meanwhile is not
// deleted by a retry.
class DeletionDeadline {
  public:
    DeletionDeadline() : end_(::GetTickCount64() + kDeleteRetryBudgetMs) {}

    template <typename Step>
    void Retry(Step step) const {
        while (!step()) {
            const DWORD error = ::GetLastError();
            if (!MayPassSoon(error) || ::GetTickCount64() + kDeleteRetryPauseMs > end_)
                ThrowLastError();
            ::Sleep(kDeleteRetryPauseMs);
        }
    }

  private:
    ULONGLONG end_;
};

void DeleteEntryFile(const std::wstring& path, DWORD attributes, bool force,
                     const DeletionDeadline& deadline) {
    if (force) {
        ClearReadOnly(path, attributes);
    } else if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        // Refused for good (access denied): nothing to wait for.
        if (!::DeleteFileW(path.c_str()))
            ThrowLastError();
        return;
    }
    deadline.Retry([&path] { return ::DeleteFileW(path.c_str()); });
}

void RemoveEmptyFolder(const std::wstring& path, const DeletionDeadline& deadline) {
    deadline.Retry([&path] { return ::RemoveDirectoryW(path.c_str()); });
}

bool IsLink(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

void RemoveTree(const std::wstring& folder, DWORD attributes, bool force,
                const DeletionDeadline& deadline) {
    // Cleared before the content goes: a read-only folder may refuse to give up its entries.
    if (force)
        ClearReadOnly(folder, attributes);
    // A junction or linked folder loses only the link, never what it points to, which may lie
    // anywhere, outside the watch folder too.
    if (!IsLink(attributes)) {
        for (const Entry& entry : FindEntries(Join(folder, kAllEntries), FindExSearchNameMatch)) {
            const std::wstring path = Join(folder, entry.name);
            if (IsDirectory(entry.attributes)) {
                RemoveTree(path, entry.attributes, force, deadline);
            } else {
                DeleteEntryFile(path, entry.attributes, force, deadline);
            }
        }
    }
    RemoveEmptyFolder(folder, deadline);
}

// Orders names as the file system compares them: case-insensitively by the system's upcase
// table, not by any language's rules.
bool NameLess(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_LESS_THAN;
}

// The read-only files of a folder, sorted by NameLess. Windows refuses to replace a read-only
// file; Wine's CopyFileW replaces it silently, so the refusal is made here to behave alike on
// both. One listing per copy, looked up in memory: asking for every name would cost a search of
// the whole folder each under Wine.
std::vector<std::wstring> ReadOnlyNamesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    for (const Entry& entry : FindEntries(Join(folder, kAllEntries), FindExSearchNameMatch)) {
        if ((entry.attributes & FILE_ATTRIBUTE_READONLY) != 0)
            names.push_back(entry.name);
    }
    std::sort(names.begin(), names.end(), NameLess);
    return names;
}

FolderIdentity IdentityOf(const std::wstring& folder) {
    // No access asked and all sharing granted: the imaging application may still rename or remove
    // the folder meanwhile.
    const UniqueFile handle(
        ::CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle)
        ThrowLastError();
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(handle.get(), &information))
        ThrowLastError();
    return {information.dwVolumeSerialNumber,
            Combine(information.nFileIndexHigh, information.nFileIndexLow)};
}

// The identity is read before the listing: a folder replaced after that has another identity, so
// what was listed is never taken for the newcomer's content.
FolderFiles ListMatchingFiles(const std::wstring& pattern, std::vector<Entry>& entries) {
    std::wstring folder(PatternFolder(pattern));
    // "C:\" names the root; "C:\images\" is opened as "C:\images".
    if (folder.size() > 1 && folder[folder.size() - 2] != L':')
        folder.pop_back();
    FolderFiles listing{IdentityOf(folder), {}};
    entries = FindEntries(pattern, FindExSearchNameMatch);
    std::erase_if(entries, [](const Entry& entry) { return IsDirectory(entry.attributes); });
    for (const Entry& entry : entries)
        listing.files.push_back({entry.name, entry.size, entry.lastWrite});
    return listing;
}

// A copy takes the source's attributes; a read-only one would make the next image of its name
// fail at every tick.
void LeaveWritable(const std::wstring& copy, DWORD sourceAttributes) {
    if ((sourceAttributes & FILE_ATTRIBUTE_READONLY) == 0)
        return;
    const DWORD attributes = sourceAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY};
    if (!::SetFileAttributesW(copy.c_str(), attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes))
        ThrowLastError();
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
    const std::wstring path = ExtendedLengthPath(folder);
    std::vector<std::wstring> folders;
    bool anyEntry = false;
    // Straight from the search into the caller's names: the count lists the watch folder twice
    // per tick, and it may hold thousands of subfolders.
    ForEachEntry(Join(path, kAllEntries), FindExSearchLimitToDirectories,
                 [&](const WIN32_FIND_DATAW& data) {
                     anyEntry = true;
                     // The directory limit is only a hint to the file system; files can still
                     // come back. Named as the caller named the folder, which compares them with
                     // its own paths.
                     if (IsDirectory(data.dwFileAttributes))
                         folders.push_back(Join(folder, data.cFileName));
                 });
    // A drive root has no "." entry, so an empty one matches nothing; a missing folder must still
    // fail.
    if (!anyEntry && !FolderExists(folder))
        throw ErrorFailure(ERROR_PATH_NOT_FOUND);
    return folders;
}

FolderFiles Win32FileSystem::CopyFile(std::wstring_view sourcePattern,
                                      std::wstring_view destination, bool overwrite) {
    const std::wstring destinationFolder = ExtendedLengthPath(destination);
    if (!FolderExists(destinationFolder))
        throw ErrorFailure(ERROR_PATH_NOT_FOUND);
    const std::wstring pattern = ExtendedLengthPath(sourcePattern);
    std::vector<Entry> entries;
    FolderFiles copied = ListMatchingFiles(pattern, entries);
    if (entries.empty())
        throw ErrorFailure(ERROR_FILE_NOT_FOUND);
    const std::vector<std::wstring> readOnly =
        overwrite ? ReadOnlyNamesIn(destinationFolder) : std::vector<std::wstring>{};
    const std::wstring_view sourceFolder = PatternFolder(pattern);
    for (const Entry& entry : entries) {
        if (std::binary_search(readOnly.begin(), readOnly.end(), entry.name, NameLess))
            throw ErrorFailure(ERROR_ACCESS_DENIED);
        const std::wstring source = std::wstring(sourceFolder) + entry.name;
        const std::wstring target = Join(destinationFolder, entry.name);
        if (!::CopyFileW(source.c_str(), target.c_str(), !overwrite))
            ThrowLastError();
        LeaveWritable(target, entry.attributes);
    }
    return copied;
}

FolderFiles Win32FileSystem::ListFiles(std::wstring_view pattern) {
    std::vector<Entry> entries;
    return ListMatchingFiles(ExtendedLengthPath(pattern), entries);
}

void Win32FileSystem::DeleteFolder(std::wstring_view folder, bool force) {
    const std::wstring path = ExtendedLengthPath(folder);
    const DWORD attributes = AttributesOrThrow(path);
    if (!IsDirectory(attributes))
        throw ErrorFailure(ERROR_PATH_NOT_FOUND);
    RemoveTree(path, attributes, force, DeletionDeadline{});
}

bool Win32FileSystem::FolderExists(std::wstring_view path) {
    const DWORD attributes = ::GetFileAttributesW(ExtendedLengthPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && IsDirectory(attributes);
}

bool Win32FileSystem::FileExists(std::wstring_view path) {
    const DWORD attributes = ::GetFileAttributesW(ExtendedLengthPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !IsDirectory(attributes);
}

void Win32FileSystem::CreateFolder(std::wstring_view path) {
    if (!::CreateDirectoryW(ExtendedLengthPath(path).c_str(), nullptr))
        ThrowLastError();
}

void Win32FileSystem::CreateTextFile(std::wstring_view path) {
    OpenFile(ExtendedLengthPath(path), GENERIC_WRITE, CREATE_ALWAYS);
}

void Win32FileSystem::AppendLine(std::wstring_view path, std::wstring_view line) {
    std::wstring text(line);
    text += L"\r\n";
    // Converted before the file is touched, so a line that cannot be converted leaves no trace.
    const std::string bytes = ToAnsi(text);
    const UniqueFile file = OpenFile(ExtendedLengthPath(path), FILE_APPEND_DATA, OPEN_ALWAYS);
    const auto size = static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!::WriteFile(file.get(), bytes.data(), size, &written, nullptr))
        ThrowLastError();
    // A disk file takes fewer bytes than offered only when the disk is full.
    if (written != size)
        throw ErrorFailure(ERROR_DISK_FULL);
}

}  // namespace ordovan::win32
