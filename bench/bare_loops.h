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

// One subfolder's images into free names: one listing of the subfolder's images and, per image,
// the source opened against writers and asked for its size, last write and index (the deletion
// checks those by handle), and one CopyFileW that fails should the name be taken. Answers how
// many were copied.
int CopyImagesFloor(std::wstring_view subfolder, std::wstring_view target);

// The same, each copy named only once it is whole and on the disk: per image the source held and
// asked as above, a CopyFileW under the unfinished name "name.ext.kopie", a handle with write
// access to it that flushes it and asks its size, and a MoveFileExW to the name, written through.
int CopyImagesDurableFloor(std::wstring_view subfolder, std::wstring_view target);

// One subfolder's images into a target where every name holds another image of the same size,
// made durably as above: per image the source held and asked, the copy under the unfinished name
// flushed and asked, the refused MoveFileExW, the other file's size, both files read and
// compared, and the MoveFileExW to "name (2).ext". Answers how many were copied.
int CopyImagesRenamedFloor(std::wstring_view subfolder, std::wstring_view target);

// Removes the folder with everything in it as a deletion that takes only what was copied must:
// a listing per folder; per file, a handle that shuts out writers, asked for its facts and
// marked for deletion; recursion into subfolders; RemoveDirectoryW.
void DeleteTreeFloor(const std::wstring& folder);

}  // namespace ordovan::bench
