#pragma once

#include <deque>
#include <string>
#include <string_view>

#include "errorlog/error_handler.h"
#include "journal/journal.h"
#include "journal/journal_row.h"
#include "platform/file_system.h"
#include "platform/journal_file.h"

namespace ordovan::journal {

inline constexpr std::wstring_view kJournalFileName = L"Logs\\Exportprotokoll.csv";
// The procedure name of the error-log line that marks rows waiting to be written.
inline constexpr std::wstring_view kJournalProcedure = L"Exportprotokoll";

// The export journal beside the executable, in the error log's Logs folder: opened, appended and
// closed per row, like the error log. It never throws and never changes what the run does. A row
// that cannot be written (another program holds the file, the disk is full) waits in memory and
// is written before the next row, in order; it is lost only when the program ends first. One
// error-log line marks the start of such a streak, none follows per row.
class ExportJournal final : public Journal {
  public:
    ExportJournal(JournalFile& file, FileSystem& files, ErrorLog& errorLog,
                  std::wstring_view executableDirectory);

    // Stamps the row with today's date and the time now, in the error log's formats, and writes
    // it after any rows still waiting.
    void Write(const JournalRow& row) noexcept override;
    // Writes the rows still waiting, if the file takes them now.
    void Retry() noexcept override;
    // A last try for the rows still waiting; what the file does not take then is lost.
    void Finish() noexcept override { Retry(); }

    // Rows formatted but not yet written.
    std::size_t Waiting() const noexcept { return waiting_.size(); }

  private:
    void WriteWaiting();

    JournalFile& file_;
    FileSystem& files_;
    ErrorLog& errorLog_;
    std::wstring folder_;
    std::wstring path_;
    std::deque<std::string> waiting_;
    bool failing_ = false;
};

}  // namespace ordovan::journal
