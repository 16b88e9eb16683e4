#include "bench/copy_figures.h"

// Before anything brings in <windows.h>, which maps CopyFile to CopyFileW.
#include "platform/win32/win32_file_system.h"

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bare_loops.h"
#include "bench/bench_paths.h"
#include "bench/figure_report.h"
#include "bench/stopwatch.h"
#include "platform/driven_app.h"

#undef CopyFile

namespace ordovan::bench {

namespace {

constexpr std::wstring_view kSourceFolder = L"PACS";
constexpr std::wstring_view kOursDeletedFolder = L"Export";
constexpr std::wstring_view kFloorDeletedFolder = L"ExportBoden";
constexpr std::wstring_view kOursTargetFolder = L"Ziel";
constexpr std::wstring_view kFloorTargetFolder = L"ZielBoden";
constexpr std::wstring_view kOursCrowdedFolder = L"ZielVoll";
constexpr std::wstring_view kFloorCrowdedFolder = L"ZielVollBoden";
constexpr std::wstring_view kOursTakenFolder = L"ZielBelegt";
constexpr std::wstring_view kFloorTakenFolder = L"ZielBelegtBoden";
constexpr std::wstring_view kRecordFolder = L"ZielNurFuerDieLoeschung";
constexpr std::wstring_view kRenamedSuffix = L" (2).dcm";
constexpr std::wstring_view kOtherPrefix = L"OTHER";
// A copy or deletion of the large tree takes seconds to minutes, in steps of one subfolder: long
// enough to span many of the machine's fast and slow stretches on each side.
constexpr int kLargeRunsPerPair = 1;

void Check(bool done, const std::string& what) {
    if (!done)
        throw std::runtime_error(what);
}

std::wstring InFolder(std::wstring_view folder, std::wstring_view name) {
    return std::wstring(folder) + L'\\' + std::wstring(name);
}

// What a step took, in ms.
template <typename Work>
double Timed(Work work) {
    const Stopwatch stopwatch;
    work();
    return stopwatch.ElapsedMs();
}

// One size of tree. The tool's side makes the calls the copying tick and the next-patient
// sequence make, in their order and with their arguments: one CopyFile per subfolder with
// "\*.dcm" into the target as the box holds it (with its "\"), overwriting, then one forced
// DeleteFolder per subfolder. Around them the tick lists the watch folder (a few subfolders) and
// types keys; neither touches the images. Ours and the floor each have a target and a tree to
// delete of their own, and take turns subfolder by subfolder.
class TreeFigures {
  public:
    TreeFigures(CopyTreeShape shape, int crowd)
        : shape_(shape),
          crowd_(crowd),
          source_(BenchFolder(kSourceFolder, shape.files)),
          oursDeleted_(BenchFolder(kOursDeletedFolder, shape.files)),
          floorDeleted_(BenchFolder(kFloorDeletedFolder, shape.files)),
          oursTarget_(BenchFolder(kOursTargetFolder, shape.files)),
          floorTarget_(BenchFolder(kFloorTargetFolder, shape.files)) {
        MakeCopyTree(source_, shape_);
        // Written to the disk once, so that the kernel's write-back of the tree, due 30 s after
        // it was written, cannot fall into a timed copy.
        FlushFiles(source_);
        subfolders_ = ListSubfolders(source_);
        for (const std::wstring* crowded : {&oursCrowded_, &floorCrowded_}) {
            MakeCrowdedFolder(*crowded, crowd_, shape_.fileKib);
            FlushFiles(*crowded);
        }
        for (const std::wstring* taken : {&oursTaken_, &floorTaken_}) {
            MakeEmptyFolder(*taken);
            TakeEveryName(*taken, shape_);
            FlushFiles(*taken);
        }
    }

    // One pair: `runs` copies of the tree into an empty target on each side, a subfolder a step.
    // Against the durable floor, which makes the copy's calls bare, or against the plain
    // CopyFileW one: what a copy that is named only once whole and on the disk costs.
    PairWork Copies(int runs, bool durableFloor) {
        const auto floorCopy = durableFloor ? CopyImagesDurableFloor : CopyImagesFloor;
        return {.runs = runs,
                .steps = subfolders_.size(),
                .prepare =
                    [this] {
                        MakeEmptyFolder(oursTarget_);
                        MakeEmptyFolder(floorTarget_);
                    },
                .ours = [this](std::size_t step) { return OursInto(oursTarget_, step); },
                .floor =
                    [this, floorCopy](std::size_t step) {
                        return Timed([&] { floorCopy(subfolders_[step], floorTarget_); });
                    },
                .check =
                    [this] {
                        CheckCopied(oursTarget_);
                        CheckCopied(floorTarget_);
                    },
                .series = durableFloor ? &durable_ : &copy_};
    }

    // The same copies into a target that already holds `crowd` other files: what the copy costs
    // late in a migration, when the one target folder holds the archive copied so far.
    PairWork CrowdedCopies(int runs) {
        return {
            .runs = runs,
            .steps = subfolders_.size(),
            .prepare =
                [this] {
                    for (const std::wstring* crowded : {&oursCrowded_, &floorCrowded_})
                        RemoveFiles(*crowded, [](std::wstring_view name) {
                            return !name.starts_with(kOtherPrefix);
                        });
                },
            .ours = [this](std::size_t step) { return OursInto(oursCrowded_, step); },
            .floor =
                [this](std::size_t step) {
                    return Timed([&] { CopyImagesDurableFloor(subfolders_[step], floorCrowded_); });
                },
            .check =
                [this] {
                    Check(CountFiles(oursCrowded_) == crowd_ + shape_.files &&
                              CountFiles(floorCrowded_) == crowd_ + shape_.files,
                          "the crowded target lacks copies");
                },
            .series = &crowded_};
    }

    // The same copies into a target where every name holds another image of the same size:
    // every image is compared byte for byte and goes under "name (2).dcm".
    PairWork TakenCopies(int runs) {
        return {
            .runs = runs,
            .steps = subfolders_.size(),
            .prepare =
                [this] {
                    for (const std::wstring* taken : {&oursTaken_, &floorTaken_})
                        RemoveFiles(*taken, [](std::wstring_view name) {
                            return name.ends_with(kRenamedSuffix);
                        });
                },
            .ours = [this](std::size_t step) { return OursInto(oursTaken_, step); },
            .floor =
                [this](std::size_t step) {
                    return Timed([&] { CopyImagesRenamedFloor(subfolders_[step], floorTaken_); });
                },
            .check =
                [this] {
                    Check(CountFiles(oursTaken_) == 2 * shape_.files &&
                              CountFiles(floorTaken_) == 2 * shape_.files,
                          "the taken target lacks renamed copies");
                },
            .series = &taken_};
    }

    // One pair: `runs` deletions of a tree made anew on each side, a subfolder a step.
    PairWork Deletions(int runs) {
        return {.runs = runs,
                .steps = static_cast<std::size_t>(shape_.subfolders),
                .prepare =
                    [this] {
                        oursToDelete_ = MakeDeletedTree(oursDeleted_);
                        floorToDelete_ = MakeDeletedTree(floorDeleted_);
                        RecordCopies();
                    },
                .ours =
                    [this](std::size_t step) {
                        const std::wstring pattern =
                            InFolder(oursToDelete_.at(step), driven_app::kImagePattern);
                        const FolderFiles& copied = oursCopied_.at(step);
                        const std::wstring_view lock = driven_app::kLockFileName;
                        return Timed([&] { files_.DeleteCopiedFolder(pattern, copied, lock); });
                    },
                .floor =
                    [this](std::size_t step) {
                        return Timed([&] { DeleteTreeFloor(floorToDelete_.at(step)); });
                    },
                .check =
                    [this] {
                        CheckDeleted(oursDeleted_);
                        CheckDeleted(floorDeleted_);
                    },
                .series = &delete_};
    }

    void Print() const {
        PrintPairs("copy_" + std::to_string(shape_.files), copy_);
        PrintPairs("copy_durable_" + std::to_string(shape_.files), durable_);
        PrintPairs("copy_crowded_" + std::to_string(shape_.files), crowded_);
        PrintPairs("copy_taken_" + std::to_string(shape_.files), taken_);
        PrintPairs("delete_" + std::to_string(shape_.files), delete_);
    }

    void Remove() const {
        for (const std::wstring* folder :
             {&source_, &oursDeleted_, &floorDeleted_, &oursTarget_, &floorTarget_, &oursCrowded_,
              &floorCrowded_, &oursTaken_, &floorTaken_, &record_})
            RemoveFolder(*folder);
    }

    const PairSeries& Copies() const { return copy_; }
    const PairSeries& Deletions() const { return delete_; }

  private:
    double OursInto(const std::wstring& target, std::size_t step) {
        const std::wstring pattern = InFolder(subfolders_[step], driven_app::kImagePattern);
        const std::wstring destination = target + L'\\';
        return Timed([&] { files_.CopyFile(pattern, destination, true, [] {}); });
    }

    // The deletion deletes what a copy recorded: the tree to delete is copied first, untimed.
    void RecordCopies() {
        MakeEmptyFolder(record_);
        oursCopied_.clear();
        for (const std::wstring& subfolder : oursToDelete_) {
            oursCopied_.push_back(
                files_.CopyFile(InFolder(subfolder, driven_app::kImagePattern), record_, true, {}));
        }
    }

    // On the disk, as an export is by the time it is deleted. A tree still in the cache would be
    // written back by the kernel once 30 s old, and a deletion that meets that write-back waits
    // for it: under load, making a large tree takes that long.
    std::vector<std::wstring> MakeDeletedTree(const std::wstring& folder) const {
        MakeCopyTree(folder, shape_);
        FlushFiles(folder);
        return ListSubfolders(folder);
    }

    void CheckCopied(const std::wstring& target) const {
        Check(CountFiles(target) == shape_.files, "the target lacks copies");
    }

    static void CheckDeleted(const std::wstring& folder) {
        Check(ListSubfolders(folder).empty(), "subfolders left behind");
    }

    const CopyTreeShape shape_;
    const int crowd_;
    const std::wstring source_, oursDeleted_, floorDeleted_, oursTarget_, floorTarget_;
    const std::wstring oursCrowded_ = BenchFolder(kOursCrowdedFolder, shape_.files);
    const std::wstring floorCrowded_ = BenchFolder(kFloorCrowdedFolder, shape_.files);
    const std::wstring oursTaken_ = BenchFolder(kOursTakenFolder, shape_.files);
    const std::wstring floorTaken_ = BenchFolder(kFloorTakenFolder, shape_.files);
    const std::wstring record_ = BenchFolder(kRecordFolder, shape_.files);
    std::vector<std::wstring> subfolders_, oursToDelete_, floorToDelete_;
    std::vector<FolderFiles> oursCopied_;
    win32::Win32FileSystem files_;
    PairSeries copy_, durable_, crowded_, taken_, delete_;
};

CopyTreeShape WithFiles(CopyTreeShape shape, int files) {
    shape.files = files;
    return shape;
}

}  // namespace

void RunCopyFigures(CopyTreeShape shape, int small, int large, int rounds, int deleteRounds,
                    int crowd) {
    std::array trees{TreeFigures(WithFiles(shape, small), crowd),
                     TreeFigures(WithFiles(shape, large), crowd)};
    const int smallRuns = RunsPerPair(small, large, kLargeRunsPerPair);
    for (int round = 0; round < rounds; ++round) {
        std::array works{trees[0].Copies(smallRuns, false),
                         trees[1].Copies(kLargeRunsPerPair, false)};
        RunInterleaved(round, works);
    }
    for (int round = 0; round < rounds; ++round) {
        std::array works{trees[0].Copies(smallRuns, true),
                         trees[1].Copies(kLargeRunsPerPair, true)};
        RunInterleaved(round, works);
    }
    for (int round = 0; round < rounds; ++round) {
        std::array works{trees[0].CrowdedCopies(smallRuns),
                         trees[1].CrowdedCopies(kLargeRunsPerPair)};
        RunInterleaved(round, works);
    }
    for (int round = 0; round < rounds; ++round) {
        std::array works{trees[0].TakenCopies(smallRuns), trees[1].TakenCopies(kLargeRunsPerPair)};
        RunInterleaved(round, works);
    }
    for (int round = 0; round < deleteRounds; ++round) {
        std::array works{trees[0].Deletions(RunsPerPair(small, large, kLargeRunsPerPair)),
                         trees[1].Deletions(kLargeRunsPerPair)};
        RunInterleaved(round, works);
    }
    const double factor = static_cast<double>(large) / small;
    for (const TreeFigures& tree : trees) {
        tree.Print();
        tree.Remove();
    }
    PrintScaling("copy", factor, trees[0].Copies(), trees[1].Copies());
    PrintScaling("delete", factor, trees[0].Deletions(), trees[1].Deletions());
}

}  // namespace ordovan::bench
