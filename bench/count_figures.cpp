#include "bench/count_figures.h"

#include <array>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bare_loops.h"
#include "bench/bench_paths.h"
#include "bench/figure_report.h"
#include "bench/image_trees.h"
#include "bench/stopwatch.h"
#include "bench/tick_rig.h"

namespace ordovan::bench {

namespace {

constexpr std::wstring_view kCountFolder = L"Zaehlen";
constexpr std::wstring_view kUnusedTarget = L"ZielZaehlen";
constexpr std::array kCountingOperations{FileOperation::SubFolders, FileOperation::FileExists};
// A tick on the large tree lasts about as long as the machine's fast or slow stretches; five of
// them, alternating with the floor, put several stretches on each side of a pair.
constexpr int kLargeRunsPerPair = 5;
void CheckCount(int counted, int expected) {
    if (counted != expected) {
        throw std::runtime_error("counted " + std::to_string(counted) + " lock files, expected " +
                                 std::to_string(expected));
    }
}

// One watch folder of its own, with its rig and what was measured on it.
struct CountTree {
    explicit CountTree(int size)
        : subfolders(size),
          folder(BenchFolder(kCountFolder, size)),
          rig(folder, BenchFolder(kUnusedTarget)) {
        MakeCountTree(folder, subfolders);
    }

    int Locked() const { return (subfolders + 1) / 2; }  // every second one, the first included

    double TimeTick() {
        // Any count but the number of subfolders makes the tick count rather than copy.
        rig.form.LockedCount = 0;
        const double ms = TimeOneTick(rig);
        CheckCount(rig.form.LockedCount, Locked());
        for (std::size_t i = 0; i < kCountingOperations.size(); ++i)
            partMs[i].push_back(rig.timed.Milliseconds(kCountingOperations[i]));
        return ms;
    }

    double TimeFloor() const {
        const Stopwatch stopwatch;
        const int locked = CountLockedFloor(folder);
        const double ms = stopwatch.ElapsedMs();
        CheckCount(locked, Locked());
        return ms;
    }

    void Print() const {
        const std::string name = "count_" + std::to_string(subfolders);
        PrintPairs(name, pairs);
        for (std::size_t i = 0; i < kCountingOperations.size(); ++i) {
            PrintPart(name, OperationName(kCountingOperations[i]), partMs[i],
                      rig.timed.Calls(kCountingOperations[i]));
        }
    }

    const int subfolders;
    const std::wstring folder;
    TickRig rig;
    PairSeries pairs;
    std::array<std::vector<double>, kCountingOperations.size()> partMs;
};

}  // namespace

void RunCountFigures(int small, int large, int rounds) {
    // Each on the heap: the rig's window system holds on to its form.
    const std::array trees{std::make_unique<CountTree>(small), std::make_unique<CountTree>(large)};
    // Neither is timed: every pair after them finds its tree in the cache.
    for (const auto& tree : trees) {
        tree->TimeTick();
        tree->TimeFloor();
        tree->partMs = {};
    }
    for (int round = 0; round < rounds; ++round) {
        std::array<PairWork, trees.size()> works;
        for (std::size_t i = 0; i < trees.size(); ++i) {
            CountTree& tree = *trees[i];
            works[i] = {.runs = RunsPerPair(tree.subfolders, large, kLargeRunsPerPair),
                        .steps = 1,
                        .prepare = {},
                        .ours = [&tree](std::size_t) { return tree.TimeTick(); },
                        .floor = [&tree](std::size_t) { return tree.TimeFloor(); },
                        .check = {},
                        .series = &tree.pairs};
        }
        RunInterleaved(round, works);
    }
    for (const auto& tree : trees) {
        tree->Print();
        RemoveFolder(tree->folder);
    }
    PrintScaling("count", static_cast<double>(large) / small, trees[0]->pairs, trees[1]->pairs);
}

}  // namespace ordovan::bench
