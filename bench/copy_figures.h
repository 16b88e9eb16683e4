#pragma once

#include "bench/image_trees.h"

// The copying tick (copy, then the next-patient sequence that deletes the copied subfolders),
// against the floors for copying and deleting the same tree.
namespace ordovan::bench {

// Prints copy_empty, copy_overwrite and delete (the tick's CopyFile and DeleteFolder time),
// the whole ticks, and the floors copy_floor_empty, copy_floor_overwrite and delete_floor, each
// over `runs` runs on a tree of the given shape made anew before each of them.
void RunCopyFigures(const CopyTreeShape& shape, int runs);

}  // namespace ordovan::bench
