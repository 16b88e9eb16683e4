#include "bench/copy_figures.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bare_loops.h"
#include "bench/bench_paths.h"
#include "bench/figure_report.h"
#include "bench/stopwatch.h"
#include "bench/tick_rig.h"

namespace ordovan::bench {

namespace {

struct Samples {
    std::vector<double> tickEmpty, tickOverwrite;
    std::vector<double> copyEmpty, copyOverwrite, deletion;
    std::vector<double> subFolders;
    int subFolderCalls = 0;
    std::vector<double> floorCopyEmpty, floorCopyOverwrite, floorCheckedEmpty, floorDelete;
};

void Check(bool done, const std::string& what) {
    if (!done)
        throw std::runtime_error(what);
}

void CheckCopied(const CopyTreeShape& shape) {
    Check(CountFiles(kTargetFolder) == shape.Files(), "the target lacks copies");
}

// One copying tick on a fresh tree; the target is as the caller left it.
void RunCopyingTick(TickRig& rig, const CopyTreeShape& shape, std::vector<double>& tickMs,
                    std::vector<double>& copyMs, Samples& samples) {
    MakeCopyTree(shape);
    SettleVolume(kWatchFolder);
    // The count of the tick before equals the number of subfolders: this tick copies.
    rig.form.LockedCount = static_cast<std::int16_t>(shape.subfolders);
    tickMs.push_back(TimeOneTick(rig));
    copyMs.push_back(rig.timed.Milliseconds(FileOperation::CopyFile));
    samples.deletion.push_back(rig.timed.Milliseconds(FileOperation::DeleteFolder));
    samples.subFolders.push_back(rig.timed.Milliseconds(FileOperation::SubFolders));
    samples.subFolderCalls = rig.timed.Calls(FileOperation::SubFolders);
    Check(rig.timed.Calls(FileOperation::CopyFile) == shape.subfolders, "the tick did not copy");
    Check(ListSubfolders(kWatchFolder).empty(), "the tick left subfolders behind");
    CheckCopied(shape);
    FlushFiles(kTargetFolder);
}

// The bare copy loop; leaves the copies unflushed, as a tick leaves them for its deletion.
void TimeBareCopy(const std::vector<std::wstring>& subfolders, const CopyTreeShape& shape,
                  bool checkReadOnly, std::vector<double>& floorMs) {
    SettleVolume(kWatchFolder);
    const Stopwatch stopwatch;
    const int copied = CopyImagesBare(subfolders, kTargetFolder, checkReadOnly);
    floorMs.push_back(stopwatch.ElapsedMs());
    Check(copied == shape.Files(), "the bare loop copied too few files");
}

void RunFloors(const CopyTreeShape& shape, Samples& samples) {
    MakeCopyTree(shape);
    const std::vector<std::wstring> subfolders = ListSubfolders(kWatchFolder);
    MakeEmptyFolder(kTargetFolder);
    TimeBareCopy(subfolders, shape, false, samples.floorCopyEmpty);
    FlushFiles(kTargetFolder);
    TimeBareCopy(subfolders, shape, false, samples.floorCopyOverwrite);
    MakeEmptyFolder(kTargetFolder);
    TimeBareCopy(subfolders, shape, true, samples.floorCheckedEmpty);
    // Right after a copy, as in the tick.
    const Stopwatch stopwatch;
    DeleteFoldersBare(subfolders);
    samples.floorDelete.push_back(stopwatch.ElapsedMs());
    FlushFiles(kTargetFolder);
}

void PrintSamples(const Samples& samples, int subfolders) {
    PrintFigure("copy_empty", samples.copyEmpty);
    PrintFigure("copy_overwrite", samples.copyOverwrite);
    PrintFigure("delete", samples.deletion);
    PrintFigure("copy_tick_empty", samples.tickEmpty);
    PrintFigure("copy_tick_overwrite", samples.tickOverwrite);
    PrintPart("copy_tick", OperationName(FileOperation::SubFolders), samples.subFolders,
              samples.subFolderCalls);
    PrintPart("copy_tick", OperationName(FileOperation::DeleteFolder), samples.deletion,
              subfolders);
    PrintFigure("copy_floor_empty", samples.floorCopyEmpty);
    PrintFigure("copy_floor_overwrite", samples.floorCopyOverwrite);
    PrintFigure("copy_floor_checked_empty", samples.floorCheckedEmpty);
    PrintFigure("delete_floor", samples.floorDelete);
}

}  // namespace

void RunCopyFigures(const CopyTreeShape& shape, int runs) {
    TickRig rig;
    Samples samples;
    for (int run = 0; run < runs; ++run) {
        MakeEmptyFolder(kTargetFolder);
        RunCopyingTick(rig, shape, samples.tickEmpty, samples.copyEmpty, samples);
        // The target now holds the same files: the next tick replaces every one of them.
        RunCopyingTick(rig, shape, samples.tickOverwrite, samples.copyOverwrite, samples);
        RunFloors(shape, samples);
    }
    MakeEmptyFolder(kTargetFolder);
    PrintSamples(samples, shape.subfolders);
}

}  // namespace ordovan::bench
