#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "errorlog/error_handler.h"

namespace ordovan::test {

// Keeps the lines the procedures would have written to the error log.
class FakeErrorLog final : public ErrorLog {
  public:
    struct Line {
        std::wstring procedureText;
        std::int32_t number;
        std::wstring description;
    };

    void WriteErrorLog(std::wstring_view procedureText, const Failure& failure) noexcept override {
        lines.push_back({std::wstring(procedureText), failure.Number(), failure.Description()});
    }

    std::vector<Line> lines;
};

}  // namespace ordovan::test
