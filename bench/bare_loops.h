#pragma once

#include <string>
#include <string_view>
#include <vector>

// The floors: the Win32 calls a job cannot do without, in a plain loop with nothing around them.
// What the tool's procedures take beyond these is their own cost.
namespace ordovan::bench {

// The poll's counting tick as it is defined: one listing of the watch folder for the number of
// subfolders, a second one to go through them, and one GetFileAttributesW of each one's lock file.
// Answers how many subfolders hold a lock file.
int CountLockedFloor(std::wstring_view watchFolder);

// One subfolder's images: one listing of the target (the copy must refuse to replace a read-only
// file, and Wine's CopyFileW replaces it without a word, so the names in the target must be
// known), one listing of the subfolder's images and one CopyFileW per image. Answers how many
// were copied.
int CopyImagesFloor(std::wstring_view subfolder, std::wstring_view target);

// Removes the folder with everything in it: a listing per folder, DeleteFileW per file,
// recursion into subfolders, RemoveDirectoryW.
void DeleteTreeFloor(const std::wstring& folder);

}  // namespace ordovan::bench
