#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "errorlog/error_handler.h"
#include "journal/journal.h"
#include "journal/journal_row.h"
#include "platform/failure.h"
#include "platform/file_system.h"
#include "platform/journal_file.h"

namespace ordovan::journal {

inline constexpr std::wstring_view kJournalFileName = L"Logs\\Exportprotokoll.csv";
// Beside it: a journal of another format, set aside at a Start as "Exportprotokoll bis
// <JJJJ-MM-TT>.csv", and the rows that still waited when the program ended, in
// "Exportprotokoll <JJJJ-MM-TT HH-MM-SS>.csv". A taken name gets " (2)", " (3)", … before ".csv".
inline constexpr std::wstring_view kSetAsideStem = L"Logs\\Exportprotokoll bis ";
inline constexpr std::wstring_view kLeftOverStem = L"Logs\\Exportprotokoll ";
// The procedure name of the error-log lines about the journal.
inline constexpr std::wstring_view kJournalProcedure = L"Exportprotokoll";
// The text of the error-log line that names the file of left-over rows; the file's name follows.
inline constexpr std::wstring_view kLeftOverDescription =
    L"Zeilen, die nicht ins Exportprotokoll kamen, stehen in ";

// The export journal beside the executable, in the error log's Logs folder: opened, appended and
// closed per row, like the error log. It never throws and never changes what the run does. A row
// that cannot be written (another program holds the file, the disk is full) waits in memory and
// is written, in order, at the next row or retry; rows still waiting when the program ends go
// into a file of their own. One error-log line marks the start of such a streak, none follows
// per row.
class ExportJournal final : public Journal {
  public:
    ExportJournal(JournalFile& file, FileSystem& files, ErrorLog& errorLog,
                  std::wstring_view executableDirectory);

    // Stamps the row with its run (the date and time of the run's Start row), today's date and
    // the time now, in the error log's formats, and writes it after any rows still waiting.
    void Write(const JournalRow& row) noexcept override;
    void Retry() noexcept override;
    void Finish() noexcept override;

    // Rows formatted but not yet written.
    std::size_t Waiting() const noexcept { return waiting_.size(); }

  private:
    template <typename Action>
    void Attempt(Action&& action) noexcept;
    void WriteWaiting();
    void SetAsideOtherFormat();
    std::wstring WriteLeftOver();

    JournalFile& file_;
    FileSystem& files_;
    ErrorLog& errorLog_;
    std::wstring directory_;
    std::wstring folder_;
    std::wstring path_;
    std::deque<std::string> waiting_;
    std::wstring run_;
    // Whether the file was found to be of this format (or missing) since the last Start row.
    bool formatChecked_ = false;
    // What keeps the waiting rows from the file; empty while rows go through.
    std::optional<Failure> failure_;
};

}  // namespace ordovan::journal
