#include <cstdio>
#include <exception>
#include <stdexcept>

#include "bench/bench_options.h"
#include "bench/copy_figures.h"
#include "bench/count_figures.h"
#include "bench/helper_modes.h"
#include "bench/process_figures.h"
#include "platform/failure.h"

// ordovan_bench: times the tool's real procedures and file work under this Windows (or Wine);
// scripts/bench runs it beside the operating system's own tools. Options: bench/bench_options.h.
namespace {

using namespace ordovan::bench;

constexpr char kUsage[] =
    "usage: ordovan_bench count|copy|process [--rounds N] [--delete-rounds N]\n"
    "       [--small N] [--large N] [--subfolders N] [--file-kib N] [--crowd N] [--idle-ms N]\n";

int RunScenario(const BenchOptions& options) {
    const std::wstring& scenario = options.scenario;
    if (scenario == L"count") {
        RunCountFigures(options.small, options.large, options.rounds);
    } else if (scenario == L"copy") {
        RunCopyFigures(options.shape, options.small, options.large, options.rounds,
                       options.deleteRounds, options.crowd);
    } else if (scenario == L"process") {
        RunProcessFigures(options.idleMs);
    } else if (scenario == L"spin") {
        Spin(options.spinMs);
    } else if (scenario == L"idle-window") {
        return RunIdleWindow();
    } else {
        throw std::invalid_argument("unknown scenario");
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        return RunScenario(ParseOptions(argc, argv));
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "%s\n%s", error.what(), kUsage);
        return 2;
    } catch (const ordovan::Failure& failure) {
        std::fprintf(stderr, "failed: %d %ls\n", failure.Number(), failure.Description().c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "failed: %s\n", error.what());
    }
    return 1;
}
