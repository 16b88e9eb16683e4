#pragma once

#include <string_view>
#include <vector>

// The bench's output: one line per figure, read by scripts/bench and by people.
//   pairs <figure> <pairs> <ours median ms> <floor median ms> <ratio q1> <ratio median> <ratio q3>
//   runs <figure> ours <ms of each pair...> floor <ms of each pair...>
//   scaling <figure> <factor> <ours q1> <ours median> <ours q3> <floor median>
//   part <figure> <file operation> <median ms> <calls per run>
//   value <name> <number> <unit>
// Ratios are taken pair by pair (ours over its floor, timed one right after the other), and
// their quartiles reported, so that a slow stretch of the machine lands in one pair's both halves
// rather than in one side's figure.
namespace ordovan::bench {

struct Quartiles {
    double q1 = 0.0, median = 0.0, q3 = 0.0;
};

// Linear between the two nearest ranks (R's and Excel's default).
Quartiles QuartilesOf(std::vector<double> values);
double Median(std::vector<double> values);

// Ours and its floor, sample i of each taken in the same pair.
struct PairSeries {
    std::vector<double> oursMs, floorMs;
    std::vector<double> Ratios() const;
};

// Runs `ours` and `floor` one right after the other. Which goes first alternates from pair to
// pair, so that neither always inherits what the other leaves behind (a warm cache, pending disk
// work).
template <typename Ours, typename Floor>
void RunPair(int pair, Ours ours, Floor floor) {
    const bool oursFirst = pair % 2 == 0;
    if (oursFirst)
        ours();
    floor();
    if (!oursFirst)
        ours();
}

void PrintPairs(std::string_view figure, const PairSeries& series);

// How the figure grows from the small tree to the large one: round by round, the large tree's
// time over the small tree's, for ours; the floor's median ratio beside it.
void PrintScaling(std::string_view figure, double factor, const PairSeries& small,
                  const PairSeries& large);

void PrintPart(std::string_view figure, std::string_view operation,
               const std::vector<double>& runsMs, int callsPerRun);
void PrintValue(std::string_view name, double value, std::string_view unit);

}  // namespace ordovan::bench
