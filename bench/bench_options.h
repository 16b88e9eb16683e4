#pragma once

#include <string>

#include "bench/image_trees.h"

// The command line: a scenario and the sizes it runs with.
//   ordovan_bench count [--rounds N] [--small N] [--large N]
//       counting tick and its floor on watch folders of N subfolders
//   ordovan_bench copy [--rounds N] [--delete-rounds N] [--small N] [--large N]
//                      [--subfolders N] [--file-kib N] [--crowd N]
//       copying tick (copy, delete) and floors on trees of N images in all
//   ordovan_bench process [--idle-ms N]      idle CPU and peak working set of CopyOrdovan.exe
// Helpers the bench starts itself: spin --ms N, idle-window.
namespace ordovan::bench {

struct BenchOptions {
    std::wstring scenario;
    int rounds = 11;
    int deleteRounds = 5;
    int crowd = 10000;  // other files already in the crowded target
    int small = 1000;
    int large = 10000;
    CopyTreeShape shape;
    int idleMs = 10000;
    int spinMs = 1000;
};

// Throws std::invalid_argument for an unknown option or a value out of range.
BenchOptions ParseOptions(int argc, const wchar_t* const* argv);

}  // namespace ordovan::bench
