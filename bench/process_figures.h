#pragma once

// The program itself under Wine: the CPU it takes while it waits between ticks, and its peak
// working set after it has handed one patient over.
namespace ordovan::bench {

// The longest idle stretch that fits between the first counting tick and the copying tick.
inline constexpr int kLongestIdleMs = 12000;

// Needs ORDOVAN_TOOL and ORDOVAN_SIMULATOR (Unix paths), as the end-to-end tests do.
void RunProcessFigures(int idleMs);

}  // namespace ordovan::bench
