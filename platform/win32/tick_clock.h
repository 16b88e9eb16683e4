#pragma once

#include "platform/clock.h"

namespace ordovan::win32 {

// The system's tick count: it neither wraps nor follows changes of the time of day.
class TickClock final : public Clock {
  public:
    std::int64_t NowMs() override;
};

}  // namespace ordovan::win32
