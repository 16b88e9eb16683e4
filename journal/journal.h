#pragma once

#include "journal/journal_row.h"

namespace ordovan::journal {

// Where the window's procedures send the export journal's rows. Writing never fails for the
// caller: a row that cannot be written is the journal's own concern.
class Journal {
  public:
    virtual ~Journal() = default;
    virtual void Write(const JournalRow& row) noexcept = 0;
    // Tries again to write the rows still waiting.
    virtual void Retry() noexcept = 0;
    // The program ends: rows still waiting go into a file of their own.
    virtual void Finish() noexcept = 0;
};

}  // namespace ordovan::journal
