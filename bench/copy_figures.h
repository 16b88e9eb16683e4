#pragma once

#include "bench/image_trees.h"

// The copying tick's file work against its floors, on a small and a large tree: the copy of every
// image subfolder into the target, and the deletion of the copied subfolders that follows in the
// next-patient sequence.
namespace ordovan::bench {

// Prints pairs copy_<n> and delete_<n> for both sizes (images in the tree), and their scaling
// from the small tree to the large one, over `rounds` rounds of copies and `deleteRounds` rounds
// of deletions. The copy goes into an empty target, timed against the plain CopyFileW floor
// (copy_<n>: what durability costs) and against the floor that makes its calls bare
// (copy_durable_<n>); copy_crowded_<n> into one holding `crowd` other files, copy_taken_<n> into
// one where every name holds another image. Every deletion gets a tree made anew.
void RunCopyFigures(CopyTreeShape shape, int small, int large, int rounds, int deleteRounds,
                    int crowd);

}  // namespace ordovan::bench
