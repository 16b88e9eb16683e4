#pragma once

// The counting tick over the tree in the watch folder, against its floor.
namespace ordovan::bench {

// Prints count_tick_<n> (one whole tick that counts) and count_floor_<n> (one listing and one
// GetFileAttributesW per subfolder) for the n subfolders present, each over `runs` runs.
void RunCountFigures(int runs);

}  // namespace ordovan::bench
