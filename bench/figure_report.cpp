#include "bench/figure_report.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

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

double At(const std::vector<double>& sorted, double share) {
    const double rank = share * static_cast<double>(sorted.size() - 1);
    const auto below = static_cast<std::size_t>(rank);
    const std::size_t above = std::min(below + 1, sorted.size() - 1);
    const double weight = rank - static_cast<double>(below);
    return sorted[below] + (sorted[above] - sorted[below]) * weight;
}

std::vector<double> Quotients(const std::vector<double>& numerators,
                              const std::vector<double>& denominators) {
    if (numerators.size() != denominators.size())
        throw std::logic_error("series of different lengths");
    std::vector<double> quotients;
    for (std::size_t i = 0; i < numerators.size(); ++i)
        quotients.push_back(numerators[i] / denominators[i]);
    return quotients;
}

void PrintRuns(const std::vector<double>& runsMs) {
    for (const double ms : runsMs)
        std::printf(" %.3f", ms);
}

}  // namespace

Quartiles QuartilesOf(std::vector<double> values) {
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    return {At(values, 0.25), At(values, 0.5), At(values, 0.75)};
}

double Median(std::vector<double> values) {
    return QuartilesOf(std::move(values)).median;
}

std::vector<double> PairSeries::Ratios() const {
    return Quotients(oursMs, floorMs);
}

void RunInterleaved(int round, std::span<PairWork> works) {
    std::vector<Pair> pairs(works.size(), Pair(round));
    std::vector<std::size_t> done(works.size(), 0);
    for (;;) {
        // Next: the work least far along, measured at the middle of its next step.
        std::size_t next = works.size();
        double nextAt = 1.0;
        for (std::size_t i = 0; i < works.size(); ++i) {
            const std::size_t total = static_cast<std::size_t>(works[i].runs) * works[i].steps;
            const double at = (static_cast<double>(done[i]) + 0.5) / static_cast<double>(total);
            if (done[i] < total && at < nextAt) {
                next = i;
                nextAt = at;
            }
        }
        if (next == works.size())
            break;
        const PairWork& work = works[next];
        const std::size_t step = done[next] % work.steps;
        if (step == 0 && work.prepare)
            work.prepare();
        pairs[next].Step([&] { return work.ours(step); }, [&] { return work.floor(step); });
        if (step == work.steps - 1 && work.check)
            work.check();
        ++done[next];
    }
    for (std::size_t i = 0; i < works.size(); ++i)
        pairs[i].AddTo(*works[i].series, works[i].runs);
}

void PrintPairs(std::string_view figure, const PairSeries& series) {
    const Quartiles ratio = QuartilesOf(series.Ratios());
    std::printf("pairs %.*s %zu %.3f %.3f %.4f %.4f %.4f", Length(figure), figure.data(),
                series.oursMs.size(), Median(series.oursMs), Median(series.floorMs), ratio.q1,
                ratio.median, ratio.q3);
    EndLine();
    std::printf("runs %.*s ours", Length(figure), figure.data());
    PrintRuns(series.oursMs);
    std::printf(" floor");
    PrintRuns(series.floorMs);
    EndLine();
}

void PrintScaling(std::string_view figure, double factor, const PairSeries& small,
                  const PairSeries& large) {
    const Quartiles ours = QuartilesOf(Quotients(large.oursMs, small.oursMs));
    const double floor = Median(Quotients(large.floorMs, small.floorMs));
    std::printf("scaling %.*s %.2f %.3f %.3f %.3f %.3f", Length(figure), figure.data(), factor,
                ours.q1, ours.median, ours.q3, floor);
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

}  // namespace ordovan::bench
