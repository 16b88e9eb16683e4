#include "bench/figure_report.h"

#include <algorithm>
#include <cstdio>

namespace ordovan::bench {

namespace {

// Only whole lines reach the pipe, so that a reader never sees half a figure.
void EndLine() {
    std::printf("\n");
    std::fflush(stdout);
}

int Length(std::string_view text) {
    return static_cast<int>(text.size());
}

}  // namespace

double Median(std::vector<double> values) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

void PrintFigure(std::string_view name, const std::vector<double>& runsMs) {
    std::printf("figure %.*s %.3f", Length(name), name.data(), Median(runsMs));
    for (const double ms : runsMs)
        std::printf(" %.3f", ms);
    EndLine();
}

void PrintPart(std::string_view figure, std::string_view operation,
               const std::vector<double>& runsMs, int callsPerRun) {
    std::printf("part %.*s %.*s %.3f %d", Length(figure), figure.data(), Length(operation),
                operation.data(), Median(runsMs), callsPerRun);
    EndLine();
}

void PrintValue(std::string_view name, double value, std::string_view unit) {
    std::printf("value %.*s %.3f %.*s", Length(name), name.data(), value, Length(unit),
                unit.data());
    EndLine();
}

void PrintNote(std::string_view text) {
    std::printf("# %.*s", Length(text), text.data());
    EndLine();
}

}  // namespace ordovan::bench
