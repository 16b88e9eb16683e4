#pragma once

#include <windows.h>

#include <cstdint>

// Wall time on the performance counter, the finest clock Windows (and Wine) offers.
namespace ordovan::bench {

inline std::int64_t CounterNow() {
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

inline double CounterToMs(std::int64_t ticks) {
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(ticks) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

class Stopwatch {
  public:
    double ElapsedMs() const { return CounterToMs(CounterNow() - start_); }

  private:
    std::int64_t start_ = CounterNow();
};

}  // namespace ordovan::bench
