#pragma once

#include <string>
#include <string_view>
#include <vector>

// The folder trees the figures run on. Made outside every timed part; the same shape and the same
// bytes every time, so that a tree made again after a tick deleted it is the tree measured before.
namespace ordovan::bench {

struct CopyTreeShape {
    int subfolders = 4;
    int filesPerSubfolder = 250;
    int fileKib = 512;

    int Files() const { return subfolders * filesPerSubfolder; }
};

// A fresh watch folder with that many image subfolders, each holding one small image, every
// second one also a LOCK.LCK.
void MakeCountTree(int subfolders);

// A fresh watch folder holding the images to copy, written to the disk (not only to the cache),
// so that no write-back of them runs during a timed part.
void MakeCopyTree(const CopyTreeShape& shape);

// Removes the folder with all its content when it exists, and creates it empty.
void MakeEmptyFolder(std::wstring_view folder);

// Writes every file lying directly in the folder to the disk.
void FlushFiles(std::wstring_view folder);

// Commits to the disk what the file system still holds back of earlier work on the folder's
// volume (freed blocks of deleted files above all), so that it is not done during a timed part.
void SettleVolume(std::wstring_view folder);

// Full paths of the folder's direct subfolders.
std::vector<std::wstring> ListSubfolders(std::wstring_view folder);

// How many files lie directly in the folder.
int CountFiles(std::wstring_view folder);

}  // namespace ordovan::bench
