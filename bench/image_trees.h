#pragma once

#include <string>
#include <string_view>
#include <vector>

// The folder trees the figures run on. Made outside every timed part; the same shape and the same
// bytes every time, so that a tree made again after a tick deleted it is the tree measured before.
// Unless flushed, a tree stays in the kernel's cache, and the kernel writes it back once 30 s old.
namespace ordovan::bench {

struct CopyTreeShape {
    int subfolders = 4;
    int files = 1000;  // over all subfolders
    int fileKib = 32;

    int FilesPerSubfolder() const { return files / subfolders; }
};

// A fresh folder with that many image subfolders, each holding one small image, every second one
// (the first included) also a LOCK.LCK.
void MakeCountTree(std::wstring_view folder, int subfolders);

// A fresh folder holding the images to copy, their names unique across subfolders.
void MakeCopyTree(std::wstring_view folder, const CopyTreeShape& shape);

// A fresh folder holding `count` files of names no image of a copy tree has: a target that
// already holds a long migration's images.
void MakeCrowdedFolder(std::wstring_view folder, int count, int fileKib);

// Puts into the folder, for every image of the copy tree, a file of the same name and size with
// other bytes: a target where every name is taken by another patient's image.
void TakeEveryName(std::wstring_view folder, const CopyTreeShape& shape);

// Removes the files lying directly in the folder whose names the predicate picks.
void RemoveFiles(std::wstring_view folder, bool (*picked)(std::wstring_view name));

// Removes the folder with all its content when it exists, and creates it empty.
void MakeEmptyFolder(std::wstring_view folder);

// Removes the folder with all its content when it exists.
void RemoveFolder(std::wstring_view folder);

// Writes every file lying directly in the subfolders of the folder to the disk.
void FlushFiles(std::wstring_view folder);

// Full paths of the folder's direct subfolders.
std::vector<std::wstring> ListSubfolders(std::wstring_view folder);

// How many files lie directly in the folder.
int CountFiles(std::wstring_view folder);

}  // namespace ordovan::bench
