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

// The files (not folders) a pattern matches now.
std::vector<Entry> MatchingFiles(const std::wstring& pattern) {
    std::vector<Entry> entries = FindEntries(pattern, FindExSearchNameMatch);
    std::erase_if(entries, [](const Entry& entry) { return IsDirectory(entry.attributes); });
    return entries;
}

// Removes the folder with everything in it. With a spared wildcard, a folder holding a file it
// matches is left with that file, and so are the folders above it: answers false then, with what
// came before it in the listing removed.
bool RemoveTree(const std::wstring& folder, DWORD attributes, bool force, std::wstring_view spared,
                const DeletionDeadline& deadline) {
    std::vector<Entry> entries;
    // A junction or linked folder loses only the link, never what it points to, which may lie
    // anywhere, outside the watch folder too.
    if (!IsLink(attributes)) {
        entries = FindEntries(Join(folder, kAllEntries), FindExSearchNameMatch);
        // Searched after the listing: a spared file in the listing is found here as well.
        if (!spared.empty() && !MatchingFiles(Join(folder, spared)).empty())
            return false;
    }
    // Cleared before the content goes: a read-only folder may refuse to give up its entries.
    if (force)
        ClearReadOnly(folder, attributes);
    for (const Entry& entry : entries) {
        const std::wstring path = Join(folder, entry.name);
        if (!IsDirectory(entry.attributes)) {
            DeleteEntryFile(path, entry.attributes, force, deadline);
        } else if (!RemoveTree(path, entry.attributes, force, spared, deadline)) {
            return false;
        }
    }
    RemoveEmptyFolder(folder, deadline);
    return true;
}

// A file the wildcard `name` matches in a folder below `folder` (whose listing `entries` is), at
// any depth, as a path relative to `folder`; empty when there is none. Links are not followed:
// what they point to is no part of the folder.
std::wstring FirstMatchBelow(const std::wstring& folder, const std::vector<Entry>& entries,
                             std::wstring_view name) {
    for (const Entry& entry : entries) {
        if (!IsDirectory(entry.attributes) || IsLink(entry.attributes))
            continue;
        const std::wstring path = Join(folder, entry.name);
        const std::vector<Entry> matches = MatchingFiles(Join(path, name));
        if (!matches.empty())
            return Join(entry.name, matches.front().name);
        const std::wstring deeper = FirstMatchBelow(
            path, FindEntries(Join(path, kAllEntries), FindExSearchNameMatch), name);
        if (!deeper.empty())
            return Join(entry.name, deeper);
    }
    return {};
}

// FNV-1a over an entry's name and kind, and a file's size and last write: summed over a
// folder's entries, it does not depend on the listing's order.
std::uint64_t Fingerprint(const Entry& entry) {
    constexpr std::uint64_t kOffsetBasis = 14695981039346656037ull;
    constexpr std::uint64_t kPrime = 1099511628211ull;
    std::uint64_t hash = kOffsetBasis;
    const auto mix = [&hash](std::uint64_t value) {
        for (int byte = 0; byte < 8; ++byte, value >>= 8) {
            hash = (hash ^ (value & 0xFF)) * kPrime;
        }
    };
    for (const wchar_t character : entry.name)
        mix(character);
    // A folder's own times change with what happens inside it, which its look does not cover.
    mix(IsDirectory(entry.attributes) ? 1 : 0);
    if (!IsDirectory(entry.attributes)) {
        mix(entry.size);
        mix(entry.lastWrite);
    }
    return hash;
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

// The wildcard of a pattern: its last component.
std::wstring_view PatternName(std::wstring_view pattern) {
    return pattern.substr(PatternFolder(pattern).size());
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

// Names as the file system compares them: without regard to case.
bool IsSameName(std::wstring_view name, std::wstring_view other) {
    return ::CompareStringOrdinal(name.data(), static_cast<int>(name.size()), other.data(),
                                  static_cast<int>(other.size()), TRUE) == CSTR_EQUAL;
}

// Listed before under its name, with the same size and last write: a file written anew under a
// name that was listed (the image deleted meanwhile) is another file.
bool IsListedUnchanged(const Entry& entry, const std::vector<Entry>& entries) {
    return std::any_of(entries.begin(), entries.end(), [&entry](const Entry& listed) {
        return listed.name == entry.name && listed.size == entry.size &&
               listed.lastWrite == entry.lastWrite;
    });
}

// A match of the pattern that is not among the images listed before.
bool HasNewMatch(const std::wstring& pattern, const std::vector<Entry>& images) {
    const std::vector<Entry> now = MatchingFiles(pattern);
    return std::any_of(now.begin(), now.end(),
                       [&images](const Entry& entry) { return !IsListedUnchanged(entry, images); });
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
        if (error == ERROR_DIR_NOT_EMPTY)
            newImage = HasNewMatch(pattern, images);
        ::SetLastError(error);
        return newImage;
    });
    return !newImage;
}

// Removes what the folder held besides its images, the file named `lastFile` last. Answers false
// when a folder in it holds a match of the pattern, which stays with everything not yet removed.
bool RemoveAllButImages(const std::wstring& folder, const std::wstring& pattern,
                        const std::vector<Entry>& contents, const std::vector<Entry>& images,
                        std::wstring_view lastFile, const DeletionDeadline& deadline) {
    const auto remove = [&](const Entry& entry) {
        const std::wstring path = Join(folder, entry.name);
        if (!IsDirectory(entry.attributes)) {
            DeleteEntryFile(path, entry.attributes, true, deadline);
            return true;
        }
        return RemoveTree(path, entry.attributes, true, PatternName(pattern), deadline);
    };
    const Entry* last = nullptr;
    for (const Entry& entry : contents) {
        if (IsListed(entry.name, images))
            continue;
        if (IsSameName(entry.name, lastFile)) {
            last = &entry;
        } else if (!remove(entry)) {
            return false;
        }
    }
    return last == nullptr || remove(*last);
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
    RemoveTree(path, attributes, force, {}, DeletionDeadline{});
}

FolderView Win32FileSystem::ViewFolder(std::wstring_view sourcePattern) {
    const std::wstring pattern = ExtendedLengthPath(sourcePattern);
    const std::wstring folder = FolderOfPattern(pattern);
    FolderView view{FolderIdentityOf(folder), 0, {}};
    const std::vector<Entry> entries =
        FindEntries(Join(folder, kAllEntries), FindExSearchNameMatch);
    for (const Entry& entry : entries)
        view.fingerprint += Fingerprint(entry);
    view.deeperMatch = FirstMatchBelow(folder, entries, PatternName(pattern));
    return view;
}

bool Win32FileSystem::DeleteCopiedFolder(std::wstring_view sourcePattern, const FolderFiles& copied,
                                         std::wstring_view lastFile) {
    const std::wstring pattern = ExtendedLengthPath(sourcePattern);
    const std::wstring folder = FolderOfPattern(pattern);
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !IsDirectory(attributes))
        return false;  // gone meanwhile, or cannot tell: the next copy of it reports what is wrong
    const DeletionDeadline deadline;
    if (IsLink(attributes)) {
        RemoveTree(folder, attributes, true, {}, deadline);  // the link only: nothing is lost
        return true;
    }
    if (!IsCopiedFolder(folder, copied.folder))
        return false;
    // Everything else in the folder is listed before the images: an image that arrives after
    // the images' listing is in neither, so nothing deletes it.
    const std::vector<Entry> contents =
        FindEntries(Join(folder, kAllEntries), FindExSearchNameMatch);
    const std::vector<Entry> images = MatchingFiles(pattern);
    // No copy took an image below the folder's own level: such a folder is left whole.
    if (!FirstMatchBelow(folder, contents, PatternName(pattern)).empty())
        return false;
    std::optional<std::vector<CheckedImage>> checked =
        CheckImages(folder, images, copied, deadline);
    if (!checked)
        return false;
    ClearReadOnly(folder, attributes);
    for (const CheckedImage& image : *checked)
        MarkForDeletion(image.handle.get(), image.attributes);
    checked.reset();  // the handles close: the images go
    // An image that came meanwhile keeps the folder with everything else, its lock file too.
    if (HasNewMatch(pattern, images))
        return false;
    return RemoveAllButImages(folder, pattern, contents, images, lastFile, deadline) &&
           RemoveUnlessNewImage(folder, pattern, images, deadline);
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
