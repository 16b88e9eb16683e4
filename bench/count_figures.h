#pragma once

// The counting tick against its floor, on a small and a large watch folder.
namespace ordovan::bench {

// Prints pairs count_<n> for both sizes (subfolders), the parts of the tick's time, and the
// scaling from the small to the large one, over `rounds` rounds.
void RunCountFigures(int small, int large, int rounds);

}  // namespace ordovan::bench
