#pragma once

#include <cstddef>

namespace ordovan::test {

// How many handles this process holds open at this moment.
std::size_t OpenHandleCount();

}  // namespace ordovan::test
