#pragma once

#include <string_view>
#include <vector>

// The bench's output: one line per figure, read by scripts/bench and by people.
//   figure <name> <median ms> <ms of each run...>
//   part <figure> <file operation> <median ms> <calls per run>
//   value <name> <number> <unit>
namespace ordovan::bench {

double Median(std::vector<double> values);

void PrintFigure(std::string_view name, const std::vector<double>& runsMs);
void PrintPart(std::string_view figure, std::string_view operation,
               const std::vector<double>& runsMs, int callsPerRun);
void PrintValue(std::string_view name, double value, std::string_view unit);
void PrintNote(std::string_view text);

}  // namespace ordovan::bench
