#include "bench/count_figures.h"

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bare_loops.h"
#include "bench/figure_report.h"
#include "bench/image_trees.h"
#include "bench/stopwatch.h"
#include "bench/tick_rig.h"

namespace ordovan::bench {

namespace {

constexpr FileOperation kCountingOperations[] = {FileOperation::SubFolders,
                                                 FileOperation::GetAttributes};

void CheckCount(int counted, int expected) {
    if (counted != expected) {
        throw std::runtime_error("counted " + std::to_string(counted) + " lock files, expected " +
                                 std::to_string(expected));
    }
}

// "<base>_<subfolders>", so that runs over trees of different sizes stay apart.
std::string FigureName(std::string_view base, int subfolders) {
    std::string name(base);
    name += '_';
    name += std::to_string(subfolders);
    return name;
}

}  // namespace

void RunCountFigures(int runs) {
    const int subfolders = static_cast<int>(ListSubfolders(kWatchFolder).size());
    const int locked = (subfolders + 1) / 2;  // every second one, the first included
    if (subfolders == 0)
        throw std::runtime_error("the watch folder holds no subfolder");
    const std::string tickName = FigureName("count_tick", subfolders);
    SettleVolume(kWatchFolder);
    TickRig rig;
    std::vector<double> tickMs, floorMs;
    std::vector<std::vector<double>> partMs(std::size(kCountingOperations));
    std::vector<int> partCalls(std::size(kCountingOperations));
    // A first tick that is not timed: every run after it finds the tree in the cache.
    TimeOneTick(rig);
    for (int run = 0; run < runs; ++run) {
        // Any count but the number of subfolders makes the tick count rather than copy.
        rig.form.LockedCount = 0;
        tickMs.push_back(TimeOneTick(rig));
        CheckCount(rig.form.LockedCount, locked);
        for (std::size_t i = 0; i < std::size(kCountingOperations); ++i) {
            partMs[i].push_back(rig.timed.Milliseconds(kCountingOperations[i]));
            partCalls[i] = rig.timed.Calls(kCountingOperations[i]);
        }

        const Stopwatch stopwatch;
        const int bareCount = CountLockedBare(kWatchFolder);
        floorMs.push_back(stopwatch.ElapsedMs());
        CheckCount(bareCount, locked);
    }
    PrintFigure(tickName, tickMs);
    for (std::size_t i = 0; i < std::size(kCountingOperations); ++i) {
        PrintPart(tickName, OperationName(kCountingOperations[i]), partMs[i], partCalls[i]);
    }
    PrintFigure(FigureName("count_floor", subfolders), floorMs);
}

}  // namespace ordovan::bench
