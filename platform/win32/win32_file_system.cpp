#include "platform/win32/win32_file_system.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/file_write.h"
#include "platform/win32/handles.h"
#include "platform/win32/image_copy.h"
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

FolderIdentity FolderIdentityOf(const std::wstring& folder) {
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

// The folder a wildcard pattern searches: "C:\" names the root; "C:\images\" is opened as
// "C:\images".
std::wstring FolderOfPattern(const std::wstring& pattern) {
    std::wstring folder(PatternFolder(pattern));
    if (folder.size() > 1 && folder[folder.size() - 2] != L':')
        folder.pop_back();
    return folder;
}

// The files (not folders) a pattern matches now.
std::vector<Entry> MatchingFiles(const std::wstring& pattern) {
    std::vector<Entry> entries = FindEntries(pattern, FindExSearchNameMatch);
    std::erase_if(entries, [](const Entry& entry) { return IsDirectory(entry.attributes); });
    return entries;
}

// Opens an image for its deletion: delete access, sharing only read, so that no program can be
// writing it while it is checked and deleted through this handle. Another program's handle is
// waited for like any brief lock. Answers no handle when the image is gone meanwhile. A link is
// opened itself, never what it points to.
UniqueFile OpenForDeletion(const std::wstring& path, const DeletionDeadline& deadline) {
    UniqueFile file;
    deadline.Retry([&] {
        file.reset(::CreateFileW(
            path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ,
            nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        return static_cast<bool>(file) || ::GetLastError() == ERROR_FILE_NOT_FOUND;
    });
    return file;
}

// The image goes when its handle is closed. A read-only one loses that attribute first, through
// the same handle (copied folders are deleted with force).
void MarkForDeletion(HANDLE file, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        FILE_BASIC_INFO basic{};  // times of zero are left as they are
        const DWORD rest = attributes & ~DWORD{FILE_ATTRIBUTE_READONLY};
        basic.FileAttributes = rest == 0 ? FILE_ATTRIBUTE_NORMAL : rest;
        if (!::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic))
            ThrowLastError();
    }
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (!::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition))
        ThrowLastError();
}

bool IsCopied(const std::wstring& name, const FileIdentity& now, const FolderFiles& copied) {
    return std::any_of(copied.images.begin(), copied.images.end(), [&](const CopiedImage& image) {
        return image.name == name && image.source == now;
    });
}

bool IsListed(const std::wstring& name, const std::vector<Entry>& entries) {
    return std::any_of(entries.begin(), entries.end(),
                       [&name](const Entry& entry) { return entry.name == name; });
}

bool IsCopiedFolder(const std::wstring& folder, const FolderIdentity& copied) {
    try {
        return FolderIdentityOf(folder) == copied;
    } catch (const Failure&) {
        return false;  // cannot tell, so it stays; the next copy of it reports what is wrong
    }
}

// An image held open, checked against what the copy took, ready to be deleted.
struct CheckedImage {
    UniqueFile handle;
    DWORD attributes;
};

// Opens every image the pattern matches and checks it against the copy. Answers nothing (and
// closes every handle, deleting nothing) when one of them was not copied or has changed since.
std::optional<std::vector<CheckedImage>> CheckImages(const std::wstring& folder,
                                                     const std::vector<Entry>& images,
                                                     const FolderFiles& copied,
                                                     const DeletionDeadline& deadline) {
    std::vector<CheckedImage> checked;
    for (const Entry& image : images) {
        UniqueFile handle = OpenForDeletion(Join(folder, image.name), deadline);
        if (!handle)
            continue;
        const HandleFacts facts = FactsOf(handle.get());
        if (!IsCopied(image.name, facts.identity, copied))
            return std::nullopt;
        checked.push_back({std::move(handle), facts.attributes});
    }
    return checked;
}

// Removes the emptied folder. Images another program still holds open keep it listed for a
// moment (not empty: waited for); an image that arrived after the check keeps it for good.
bool RemoveUnlessNewImage(const std::wstring& folder, const std::wstring& pattern,
                          const std::vector<Entry>& images, const DeletionDeadline& deadline) {
    bool newImage = false;
    deadline.Retry([&] {
        if (::RemoveDirectoryW(folder.c_str()))
            return true;
        const DWORD error = ::GetLastError();
        if (error == ERROR_DIR_NOT_EMPTY) {
            const std::vector<Entry> now = MatchingFiles(pattern);
            newImage = std::any_of(now.begin(), now.end(), [&images](const Entry& entry) {
                return !IsListed(entry.name, images);
            });
        }
        ::SetLastError(error);
        return newImage;
    });
    return !newImage;
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

CopyCalls Win32FileSystem::systemCalls_;

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
                                      std::wstring_view destination, bool overwrite,
                                      const CopyHeartbeat& heartbeat) {
    std::wstring destinationFolder = ExtendedLengthPath(destination);
    if (!FolderExists(destinationFolder))
        throw ErrorFailure(ERROR_PATH_NOT_FOUND);
    if (!EndsWithSeparator(destinationFolder))
        destinationFolder += L'\\';
    const std::wstring pattern = ExtendedLengthPath(sourcePattern);
    // The identity is read before the listing: a folder replaced after that has another
    // identity, so what was copied is never taken for the newcomer's content.
    FolderFiles copied{FolderIdentityOf(FolderOfPattern(pattern)), {}};
    const std::vector<Entry> entries = MatchingFiles(pattern);
    if (entries.empty())
        throw ErrorFailure(ERROR_FILE_NOT_FOUND);
    const std::wstring sourceFolder(PatternFolder(pattern));
    Heartbeat alive(heartbeat);
    for (const Entry& entry : entries) {
        copied.images.push_back(
            CopyImage(sourceFolder, entry.name, destinationFolder, overwrite, alive, *calls_));
    }
    return copied;
}

void Win32FileSystem::DeleteFolder(std::wstring_view folder, bool force) {
    const std::wstring path = ExtendedLengthPath(folder);
    const DWORD attributes = AttributesOrThrow(path);
    if (!IsDirectory(attributes))
        throw ErrorFailure(ERROR_PATH_NOT_FOUND);
    RemoveTree(path, attributes, force, DeletionDeadline{});
}

bool Win32FileSystem::DeleteCopiedFolder(std::wstring_view sourcePattern,
                                         const FolderFiles& copied) {
    const std::wstring pattern = ExtendedLengthPath(sourcePattern);
    const std::wstring folder = FolderOfPattern(pattern);
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !IsDirectory(attributes))
        return false;  // gone meanwhile, or cannot tell: the next copy of it reports what is wrong
    const DeletionDeadline deadline;
    if (IsLink(attributes)) {
        RemoveTree(folder, attributes, true, deadline);  // the link only: nothing of it is lost
        return true;
    }
    if (!IsCopiedFolder(folder, copied.folder))
        return false;
    // Everything else in the folder is listed before the images: an image that arrives after
    // the images' listing is in neither, so nothing deletes it.
    const std::vector<Entry> contents =
        FindEntries(Join(folder, kAllEntries), FindExSearchNameMatch);
    const std::vector<Entry> images = MatchingFiles(pattern);
    std::optional<std::vector<CheckedImage>> checked =
        CheckImages(folder, images, copied, deadline);
    if (!checked)
        return false;
    ClearReadOnly(folder, attributes);
    for (const CheckedImage& image : *checked)
        MarkForDeletion(image.handle.get(), image.attributes);
    checked.reset();  // the handles close: the images go
    for (const Entry& entry : contents) {
        if (IsListed(entry.name, images))
            continue;
        const std::wstring path = Join(folder, entry.name);
        if (IsDirectory(entry.attributes)) {
            RemoveTree(path, entry.attributes, true, deadline);
        } else {
            DeleteEntryFile(path, entry.attributes, true, deadline);
        }
    }
    return RemoveUnlessNewImage(folder, pattern, images, deadline);
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
    WriteWhole(file.get(), bytes);
}

}  // namespace ordovan::win32
