#include "bench/bench_options.h"

#include <stdexcept>
#include <string_view>

#include "bench/process_figures.h"

namespace ordovan::bench {

namespace {

// The count is a 16-bit number in the tool; more lock files than that is a failure of its own.
constexpr int kMostTreeSize = 60000;
constexpr int kMostRounds = 100;
// The copying tick is told the count of the tick before in the tool's 16-bit number.
constexpr int kMostCopySubfolders = 1000;
constexpr int kMostFileKib = 1024 * 1024;
constexpr int kMostSpinMs = 60000;

int ParseNumber(std::wstring_view text, int least, int most) {
    std::size_t used = 0;
    const int value = std::stoi(std::wstring(text), &used);
    if (used != text.size() || value < least || value > most)
        throw std::invalid_argument("value out of range");
    return value;
}

int* NumberOption(BenchOptions& options, std::wstring_view name, int& most) {
    if (name == L"--rounds") {
        most = kMostRounds;
        return &options.rounds;
    }
    if (name == L"--delete-rounds") {
        most = kMostRounds;
        return &options.deleteRounds;
    }
    if (name == L"--small") {
        most = kMostTreeSize;
        return &options.small;
    }
    if (name == L"--large") {
        most = kMostTreeSize;
        return &options.large;
    }
    if (name == L"--subfolders") {
        most = kMostCopySubfolders;
        return &options.shape.subfolders;
    }
    if (name == L"--file-kib") {
        most = kMostFileKib;
        return &options.shape.fileKib;
    }
    if (name == L"--idle-ms") {
        most = kLongestIdleMs;
        return &options.idleMs;
    }
    if (name == L"--ms") {
        most = kMostSpinMs;
        return &options.spinMs;
    }
    throw std::invalid_argument("unknown option");
}

}  // namespace

BenchOptions ParseOptions(int argc, const wchar_t* const* argv) {
    if (argc < 2)
        throw std::invalid_argument("no scenario");
    BenchOptions options;
    options.scenario = argv[1];
    for (int i = 2; i < argc; i += 2) {
        if (i + 1 >= argc)
            throw std::invalid_argument("option without a value");
        int most = 0;
        int* value = NumberOption(options, argv[i], most);
        *value = ParseNumber(argv[i + 1], 1, most);
    }
    if (options.small >= options.large)
        throw std::invalid_argument("the small tree must be smaller than the large one");
    // Every subfolder gets the same number of images.
    if (options.scenario == L"copy" && (options.small % options.shape.subfolders != 0 ||
                                        options.large % options.shape.subfolders != 0)) {
        throw std::invalid_argument("tree sizes must divide among the subfolders");
    }
    return options;
}

}  // namespace ordovan::bench
