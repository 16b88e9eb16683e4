#pragma once

#include <cstdint>

namespace ordovan {

// Time as the run measures its waits: milliseconds from a fixed point, only ever going forward.
// Tests put a virtual clock in its place.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual std::int64_t NowMs() = 0;
};

}  // namespace ordovan
