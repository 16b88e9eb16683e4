#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ordovan::test {

// How many handles this process holds open at this moment.
std::size_t OpenHandleCount();

// One handle this process holds: its value, and what the system says its object is.
struct OpenHandle {
    std::uintptr_t value = 0;
    std::wstring type;  // "File", "Event", "Key", ...; empty when the system does not say
    std::wstring name;  // a file's path, a named object's name; empty for an unnamed object

    friend bool operator==(const OpenHandle&, const OpenHandle&) = default;
};

// The handles found by probing the handle values as OpenHandleCount does under Wine, so that a
// drift in the count can be named.
std::vector<OpenHandle> OpenHandles();

}  // namespace ordovan::test
