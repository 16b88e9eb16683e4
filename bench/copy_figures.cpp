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
constexpr std::wstring_view kDeletedFolder = L"Export";
constexpr std::wstring_view kTargetFolder = L"Ziel";

void Check(bool done, const std::string& what) {
    if (!done)
        throw std::runtime_error(what);
}

std::wstring InFolder(std::wstring_view folder, std::wstring_view name) {
    return std::wstring(folder) + L'\\' + std::wstring(name);
}

// One size of tree. The tool's side makes the calls the copying tick and the next-patient
// sequence make, in their order and with their arguments: one CopyFile per subfolder with
// "\*.dcm" into the target as the box holds it (with its "\"), overwriting, then one forced
// DeleteFolder per subfolder. Around them the tick lists the watch folder (a few subfolders) and
// types keys; neither touches the images.
class TreeFigures {
  public:
    explicit TreeFigures(CopyTreeShape shape)
        : shape_(shape),
          source_(BenchFolder(kSourceFolder, shape.files)),
          deleted_(BenchFolder(kDeletedFolder, shape.files)),
          target_(BenchFolder(kTargetFolder, shape.files)) {
        MakeCopyTree(source_, shape_);
        // Written to the disk once, so that the kernel's write-back of the tree, due 30 s after
        // it was written, cannot fall into a timed copy.
        FlushFiles(source_);
        subfolders_ = ListSubfolders(source_);
    }

    void TimeCopies(int pair) {
        RunPair(
            pair,
            [&] {
                MakeEmptyFolder(target_);
                const std::wstring destination = target_ + L'\\';
                const Stopwatch stopwatch;
                for (const std::wstring& subfolder : subfolders_)
                    files_.CopyFile(InFolder(subfolder, driven_app::kImagePattern), destination,
                                    true);
                copy_.oursMs.push_back(stopwatch.ElapsedMs());
                CheckCopied();
            },
            [&] {
                MakeEmptyFolder(target_);
                const Stopwatch stopwatch;
                CopyImagesFloor(subfolders_, target_);
                copy_.floorMs.push_back(stopwatch.ElapsedMs());
                CheckCopied();
            });
    }

    void TimeDeletions(int pair) {
        RunPair(
            pair,
            [&] {
                const std::vector<std::wstring> subfolders = MakeDeletedTree();
                const Stopwatch stopwatch;
                for (const std::wstring& subfolder : subfolders)
                    files_.DeleteFolder(subfolder, true);
                delete_.oursMs.push_back(stopwatch.ElapsedMs());
                CheckDeleted();
            },
            [&] {
                const std::vector<std::wstring> subfolders = MakeDeletedTree();
                const Stopwatch stopwatch;
                DeleteTreesFloor(subfolders);
                delete_.floorMs.push_back(stopwatch.ElapsedMs());
                CheckDeleted();
            });
    }

    void Print() const {
        PrintPairs("copy_" + std::to_string(shape_.files), copy_);
        PrintPairs("delete_" + std::to_string(shape_.files), delete_);
    }

    void Remove() const {
        RemoveFolder(source_);
        RemoveFolder(deleted_);
        RemoveFolder(target_);
    }

    const PairSeries& Copies() const { return copy_; }
    const PairSeries& Deletions() const { return delete_; }

  private:
    // On the disk, as an export is by the time it is deleted. A tree still in the cache would be
    // written back by the kernel once 30 s old, and a deletion that meets that write-back waits
    // for it: under load, making a large tree takes that long.
    std::vector<std::wstring> MakeDeletedTree() const {
        MakeCopyTree(deleted_, shape_);
        FlushFiles(deleted_);
        return ListSubfolders(deleted_);
    }

    void CheckCopied() const {
        Check(CountFiles(target_) == shape_.files, "the target lacks copies");
    }

    void CheckDeleted() const { Check(ListSubfolders(deleted_).empty(), "subfolders left behind"); }

    const CopyTreeShape shape_;
    const std::wstring source_, deleted_, target_;
    std::vector<std::wstring> subfolders_;
    win32::Win32FileSystem files_;
    PairSeries copy_, delete_;
};

CopyTreeShape WithFiles(CopyTreeShape shape, int files) {
    shape.files = files;
    return shape;
}

}  // namespace

void RunCopyFigures(CopyTreeShape shape, int small, int large, int rounds, int deleteRounds) {
    std::array trees{TreeFigures(WithFiles(shape, small)), TreeFigures(WithFiles(shape, large))};
    for (int round = 0; round < rounds; ++round) {
        for (TreeFigures& tree : trees)
            tree.TimeCopies(round);
    }
    for (int round = 0; round < deleteRounds; ++round) {
        for (TreeFigures& tree : trees)
            tree.TimeDeletions(round);
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
