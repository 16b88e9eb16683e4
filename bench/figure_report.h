#pragma once

#include <functional>
#include <span>
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

// One pair, taken in steps: ours and its floor alternate step by step (A B A B ...), and which of
// the two opens a step alternates too, so that neither always inherits what the other leaves
// behind (a warm cache, pending disk work). This machine runs fast and slow in stretches of a few
// hundred ms (the same loop of 1,000 attribute reads took 22 to 37 ms, in streaks): the finer the
// steps, the more evenly those stretches fall on both sides.
class Pair {
  public:
    explicit Pair(int pair) : pair_(pair) {}

    // `ours` and `floor` each run the step's work and answer its time in ms.
    template <typename Ours, typename Floor>
    void Step(Ours ours, Floor floor) {
        const bool oursFirst = (pair_ + steps_) % 2 == 0;
        if (oursFirst)
            oursMs_ += ours();
        floorMs_ += floor();
        if (!oursFirst)
            oursMs_ += ours();
        ++steps_;
    }

    // Adds the pair to the series as the time of one run of the work, the pair having run it
    // `runs` times on each side.
    void AddTo(PairSeries& series, int runs) const {
        series.oursMs.push_back(oursMs_ / runs);
        series.floorMs.push_back(floorMs_ / runs);
    }

  private:
    int pair_;
    int steps_ = 0;
    double oursMs_ = 0.0, floorMs_ = 0.0;
};

// How often a pair runs the work on a tree of `size`, when it runs it `largeRuns` times on the
// large tree: as often as fits into that, so that a pair lasts about as long at either size.
inline int RunsPerPair(int size, int large, int largeRuns) {
    return size < large ? largeRuns * ((large + size / 2) / size) : largeRuns;
}

// The work of one pair on one tree: `runs` times `steps` steps, each side of a step timed alone.
struct PairWork {
    int runs = 1;
    std::size_t steps = 1;
    std::function<void()> prepare;                  // before each run, not timed
    std::function<double(std::size_t step)> ours;   // answers the step's time in ms
    std::function<double(std::size_t step)> floor;  // the same for the floor
    std::function<void()> check;                    // after each run, not timed
    PairSeries* series = nullptr;                   // receives the pair, as the time of one run
};

// Takes one pair on each of several trees at once: their steps are merged in proportion, so that
// the small tree's many short steps spread evenly between the large tree's few long ones. Both
// then meet the same fast and slow stretches of the machine, and the scaling from one to the
// other does not depend on which stretch each fell into.
void RunInterleaved(int round, std::span<PairWork> works);

void PrintPairs(std::string_view figure, const PairSeries& series);

// How the figure grows from the small tree to the large one: round by round, the large tree's
// time over the small tree's, for ours; the floor's median ratio beside it.
void PrintScaling(std::string_view figure, double factor, const PairSeries& small,
                  const PairSeries& large);

void PrintPart(std::string_view figure, std::string_view operation,
               const std::vector<double>& runsMs, int callsPerRun);
void PrintValue(std::string_view name, double value, std::string_view unit);

}  // namespace ordovan::bench
