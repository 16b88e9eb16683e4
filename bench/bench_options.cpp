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

struct NumberOption {
    std::wstring_view name;
    int most;
    int& (*field)(BenchOptions&);
};

constexpr NumberOption kNumberOptions[] = {
    {L"--rounds", kMostRounds, [](BenchOptions& o) -> int& { return o.rounds; }},
    {L"--delete-rounds", kMostRounds, [](BenchOptions& o) -> int& { return o.deleteRounds; }},
    {L"--small", kMostTreeSize, [](BenchOptions& o) -> int& { return o.small; }},
    {L"--large", kMostTreeSize, [](BenchOptions& o) -> int& { return o.large; }},
    {L"--subfolders", kMostCopySubfolders,
     [](BenchOptions& o) -> int& { return o.shape.subfolders; }},
    {L"--file-kib", kMostFileKib, [](BenchOptions& o) -> int& { return o.shape.fileKib; }},
    {L"--crowd", kMostTreeSize, [](BenchOptions& o) -> int& { return o.crowd; }},
    {L"--idle-ms", kLongestIdleMs, [](BenchOptions& o) -> int& { return o.idleMs; }},
    {L"--ms", kMostSpinMs, [](BenchOptions& o) -> int& { return o.spinMs; }},
};

const NumberOption& FindOption(std::wstring_view name) {
    for (const NumberOption& option : kNumberOptions) {
        if (option.name == name)
            return option;
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
        const NumberOption& option = FindOption(argv[i]);
        option.field(options) = ParseNumber(argv[i + 1], 1, option.most);
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
