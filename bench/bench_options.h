#pragma once

#include <string>

#include "bench/image_trees.h"

// The command line: a scenario and the sizes it runs with.
//   ordovan_bench count-tree --folders N     a fresh counting tree in the watch folder
//   ordovan_bench count [--runs N]           counting tick and floor on the tree present
//   ordovan_bench copy-tree [shape]          a fresh copying tree in the watch folder
//   ordovan_bench copy [--runs N] [shape]    copying tick (copy, delete) and floors
//   ordovan_bench process [--idle-ms N]      idle CPU and peak working set of CopyOrdovan.exe
//   shape: --subfolders N --files N (per subfolder) --file-kib N
// Helpers the bench starts itself: spin --ms N, idle-window.
namespace ordovan::bench {

struct BenchOptions {
    std::wstring scenario;
    int runs = 5;
    int folders = 1000;
    CopyTreeShape shape;
    int idleMs = 10000;
    int spinMs = 1000;
};

// Throws std::invalid_argument for an unknown option or a value out of range.
BenchOptions ParseOptions(int argc, const wchar_t* const* argv);

}  // namespace ordovan::bench
