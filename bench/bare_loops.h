#pragma once

#include <string>
#include <string_view>
#include <vector>

// The floors: the Win32 calls a job cannot do without, in a plain loop with nothing around them.
// What the tool's procedures take beyond these is their own cost.
namespace ordovan::bench {

// One listing of the watch folder and one GetFileAttributesW per subfolder; answers how many
// subfolders hold a lock file.
int CountLockedBare(std::wstring_view watchFolder);

// FindFirstFileExW over each subfolder's images and one CopyFileW per image, replacing files of
// the same name; answers how many files were copied. With checkReadOnly, also one
// GetFileAttributesW of the file to be replaced before each copy, as the tool makes (Wine's
// CopyFileW replaces read-only files, Windows' refuses), to show what that look costs by itself.
int CopyImagesBare(const std::vector<std::wstring>& subfolders, std::wstring_view target,
                   bool checkReadOnly);

// Lists each subfolder, DeleteFileW for each file in it, RemoveDirectoryW for the subfolder.
void DeleteFoldersBare(const std::vector<std::wstring>& subfolders);

}  // namespace ordovan::bench
