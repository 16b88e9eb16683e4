#include "bench/bare_loops.h"

#include <windows.h>

#include "platform/driven_app.h"
#include "platform/win32/handles.h"
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

// The same search the tool makes: basic information, large fetches.
win32::UniqueFind FindFirst(const std::wstring& pattern, WIN32_FIND_DATAW& data,
                            FINDEX_SEARCH_OPS search) {
    win32::UniqueFind find(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, search,
                                              nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find)
        win32::ThrowLastError();
    return find;
}

}  // namespace

int CountLockedBare(std::wstring_view watchFolder) {
    WIN32_FIND_DATAW data{};
    const win32::UniqueFind find =
        FindFirst(InFolder(watchFolder, L"*"), data, FindExSearchLimitToDirectories);
    int locked = 0;
    do {
        if (!IsDirectory(data.dwFileAttributes) || IsDotEntry(data.cFileName))
            continue;
        const std::wstring lock =
            InFolder(InFolder(watchFolder, data.cFileName), driven_app::kLockFileName);
        const DWORD attributes = ::GetFileAttributesW(lock.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && !IsDirectory(attributes))
            ++locked;
    } while (::FindNextFileW(find.get(), &data));
    return locked;
}

int CopyImagesBare(const std::vector<std::wstring>& subfolders, std::wstring_view target,
                   bool checkReadOnly) {
    int copied = 0;
    for (const std::wstring& subfolder : subfolders) {
        WIN32_FIND_DATAW data{};
        const win32::UniqueFind find =
            FindFirst(InFolder(subfolder, driven_app::kImagePattern), data, FindExSearchNameMatch);
        do {
            const std::wstring source = InFolder(subfolder, data.cFileName);
            const std::wstring destination = InFolder(target, data.cFileName);
            if (checkReadOnly) {
                const DWORD attributes = ::GetFileAttributesW(destination.c_str());
                if (attributes != INVALID_FILE_ATTRIBUTES &&
                    (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
                    throw win32::ErrorFailure(ERROR_ACCESS_DENIED);
                }
            }
            if (!::CopyFileW(source.c_str(), destination.c_str(), FALSE))
                win32::ThrowLastError();
            ++copied;
        } while (::FindNextFileW(find.get(), &data));
    }
    return copied;
}

void DeleteFoldersBare(const std::vector<std::wstring>& subfolders) {
    for (const std::wstring& subfolder : subfolders) {
        std::vector<std::wstring> files;
        WIN32_FIND_DATAW data{};
        {
            const win32::UniqueFind find =
                FindFirst(InFolder(subfolder, L"*"), data, FindExSearchNameMatch);
            do {
                if (!IsDotEntry(data.cFileName))
                    files.push_back(InFolder(subfolder, data.cFileName));
            } while (::FindNextFileW(find.get(), &data));
        }
        for (const std::wstring& file : files) {
            if (!::DeleteFileW(file.c_str()))
                win32::ThrowLastError();
        }
        if (!::RemoveDirectoryW(subfolder.c_str()))
            win32::ThrowLastError();
    }
}

}  // namespace ordovan::bench
