#pragma once

#include <optional>
#include <vector>

#include "journal/journal.h"

namespace ordovan::test {

// Keeps the rows the procedures would have written to the export journal, counts the retries and
// notes the end. Their events point at the journal's own event names, which live as long as the
// program.
class FakeJournal final : public journal::Journal {
  public:
    void Write(const journal::JournalRow& row) noexcept override { rows.push_back(row); }
    void Retry() noexcept override { ++retries; }
    void Finish() noexcept override { finishedAfterRows = rows.size(); }

    // How many rows had been written when the program ended the journal.
    std::optional<std::size_t> finishedAfterRows;

    std::vector<journal::JournalRow> rows;
    int retries = 0;
};

}  // namespace ordovan::test
