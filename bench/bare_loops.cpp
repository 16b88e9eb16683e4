#include "bench/bare_loops.h"

#include <windows.h>
#include <winternl.h>

#include <stdexcept>
#include <string>

#include "platform/driven_app.h"
#include "platform/win32/handles.h"
#include "platform/win32/image_copy.h"
#include "platform/win32/last_error.h"

namespace ordovan::bench {

namespace {

std::wstring InFolder(std::wstring_view folder, std::wstring_view name) {
    return std::wstring(folder) + L'\\' + std::wstring(name);
}

bool IsDirectory(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsDotEntry(std::wstring_view name) {
    return name == L"." || name == L"..";
}

// The same search the tool makes: basic information, large fetches. Calls `visit` with each
// entry but "." and "..".
template <typename Visit>
void ForEachEntry(const std::wstring& pattern, FINDEX_SEARCH_OPS search, Visit visit) {
    WIN32_FIND_DATAW data{};
    const win32::UniqueFind find(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, search,
                                                    nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find) {
        if (::GetLastError() == ERROR_FILE_NOT_FOUND)
            return;
        win32::ThrowLastError();
    }
    do {
        if (!IsDotEntry(data.cFileName))
            visit(data);
    } while (::FindNextFileW(find.get(), &data));
}

// What the tool asks of every image's handle, on both sides of the copy and again before its
// deletion: size and last write, and its index on the volume.
void AskFacts(HANDLE file) {
    FILE_BASIC_INFO basic{};
    FILE_STANDARD_INFO standard{};
    LARGE_INTEGER index{};
    IO_STATUS_BLOCK status{};
    constexpr auto kFileInternalInformation = static_cast<FILE_INFORMATION_CLASS>(6);
    if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
        !::GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) ||
        ::NtQueryInformationFile(file, &status, &index, sizeof index, kFileInternalInformation) <
            0) {
        win32::ThrowLastError();
    }
}

// The source held open against writers while it is copied, and asked for its facts: what a copy
// that lets the deletion check by handle needs.
struct HeldSource {
    explicit HeldSource(const std::wstring& path)
        : file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr)) {
        if (!file)
            win32::ThrowLastError();
        AskFacts(file.get());
    }
    win32::UniqueFile file;
};

// The whole file, in one read.
std::string ReadWhole(const std::wstring& path) {
    const win32::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.get(), &size))
        win32::ThrowLastError();
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
        win32::ThrowLastError();
    bytes.resize(read);
    return bytes;
}

// The copy under the unfinished name, handed to the disk and asked for its size through a handle
// with write access. Answers the unfinished name.
std::wstring CopyUnfinished(const std::wstring& source, std::wstring_view target,
                            std::wstring_view name) {
    const std::wstring unfinished = InFolder(target, name) + std::wstring(win32::kUnfinishedSuffix);
    if (!::CopyFileW(source.c_str(), unfinished.c_str(), TRUE))
        win32::ThrowLastError();
    const win32::UniqueFile file(
        ::CreateFileW(unfinished.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                      nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    if (!file || !::FlushFileBuffers(file.get()) || !::GetFileSizeEx(file.get(), &size))
        win32::ThrowLastError();
    return unfinished;
}

// Answers false when the name is taken.
bool NameDurably(const std::wstring& unfinished, const std::wstring& name) {
    if (::MoveFileExW(unfinished.c_str(), name.c_str(), MOVEFILE_WRITE_THROUGH))
        return true;
    if (::GetLastError() != ERROR_ALREADY_EXISTS)
        win32::ThrowLastError();
    return false;
}

std::vector<std::wstring> ListSubfolders(std::wstring_view folder) {
    std::vector<std::wstring> subfolders;
    ForEachEntry(InFolder(folder, L"*"), FindExSearchLimitToDirectories,
                 [&](const WIN32_FIND_DATAW& entry) {
                     if (IsDirectory(entry.dwFileAttributes))
                         subfolders.push_back(InFolder(folder, entry.cFileName));
                 });
    return subfolders;
}

}  // namespace

int CountLockedFloor(std::wstring_view watchFolder) {
    const std::size_t counted = ListSubfolders(watchFolder).size();
    const std::vector<std::wstring> subfolders = ListSubfolders(watchFolder);
    if (subfolders.size() != counted)
        throw std::runtime_error("the watch folder changed under the floor");
    int locked = 0;
    for (const std::wstring& subfolder : subfolders) {
        const DWORD attributes =
            ::GetFileAttributesW(InFolder(subfolder, driven_app::kLockFileName).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && !IsDirectory(attributes))
            ++locked;
    }
    return locked;
}

int CopyImagesFloor(std::wstring_view subfolder, std::wstring_view target) {
    int copied = 0;
    ForEachEntry(InFolder(subfolder, driven_app::kImagePattern), FindExSearchNameMatch,
                 [&](const WIN32_FIND_DATAW& entry) {
                     const std::wstring source = InFolder(subfolder, entry.cFileName);
                     const std::wstring destination = InFolder(target, entry.cFileName);
                     const HeldSource held(source);
                     if (!::CopyFileW(source.c_str(), destination.c_str(), TRUE))
                         win32::ThrowLastError();
                     ++copied;
                 });
    return copied;
}

int CopyImagesDurableFloor(std::wstring_view subfolder, std::wstring_view target) {
    int copied = 0;
    ForEachEntry(InFolder(subfolder, driven_app::kImagePattern), FindExSearchNameMatch,
                 [&](const WIN32_FIND_DATAW& entry) {
                     const std::wstring source = InFolder(subfolder, entry.cFileName);
                     const HeldSource held(source);
                     const std::wstring unfinished =
                         CopyUnfinished(source, target, entry.cFileName);
                     if (!NameDurably(unfinished, InFolder(target, entry.cFileName)))
                         throw std::runtime_error("the floor's name was taken");
                     ++copied;
                 });
    return copied;
}

int CopyImagesRenamedFloor(std::wstring_view subfolder, std::wstring_view target) {
    int copied = 0;
    ForEachEntry(InFolder(subfolder, driven_app::kImagePattern), FindExSearchNameMatch,
                 [&](const WIN32_FIND_DATAW& entry) {
                     const std::wstring source = InFolder(subfolder, entry.cFileName);
                     const std::wstring taken = InFolder(target, entry.cFileName);
                     const HeldSource held(source);
                     const std::wstring unfinished =
                         CopyUnfinished(source, target, entry.cFileName);
                     if (NameDurably(unfinished, taken))
                         throw std::runtime_error("the floor's name was not taken");
                     WIN32_FILE_ATTRIBUTE_DATA data{};
                     if (!::GetFileAttributesExW(taken.c_str(), GetFileExInfoStandard, &data))
                         win32::ThrowLastError();
                     if (data.nFileSizeLow == entry.nFileSizeLow &&
                         data.nFileSizeHigh == entry.nFileSizeHigh &&
                         ReadWhole(unfinished) == ReadWhole(taken)) {
                         throw std::runtime_error("the floor's taken name holds the same image");
                     }
                     const std::wstring name = entry.cFileName;
                     const std::size_t dot = name.find_last_of(L'.');
                     const std::wstring renamed =
                         InFolder(target, name.substr(0, dot) + L" (2)" + name.substr(dot));
                     if (!NameDurably(unfinished, renamed))
                         throw std::runtime_error("the floor's second name was taken");
                     ++copied;
                 });
    return copied;
}

void DeleteTreeFloor(const std::wstring& folder) {
    std::vector<std::wstring> subfolders;
    ForEachEntry(InFolder(folder, L"*"), FindExSearchNameMatch, [&](const WIN32_FIND_DATAW& entry) {
        const std::wstring path = InFolder(folder, entry.cFileName);
        if (IsDirectory(entry.dwFileAttributes)) {
            subfolders.push_back(path);
            return;
        }
        const win32::UniqueFile file(::CreateFileW(
            path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ,
            nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file)
            win32::ThrowLastError();
        AskFacts(file.get());
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        if (!::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                          sizeof disposition)) {
            win32::ThrowLastError();
        }
    });
    for (const std::wstring& subfolder : subfolders)
        DeleteTreeFloor(subfolder);
    if (!::RemoveDirectoryW(folder.c_str()))
        win32::ThrowLastError();
}

}  // namespace ordovan::bench
