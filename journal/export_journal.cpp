#include "journal/export_journal.h"

#include <cstdint>
#include <string>

#include "platform/local_time_text.h"

namespace ordovan::journal {

namespace {

constexpr std::wstring_view kCsvExtension = L".csv";
// "JJJJ-MM-TT" at the start of CurrentFileNameTimeText().
constexpr std::size_t kFileNameDateLength = 10;
// More numbered names than any folder will ever hold for one day or second; past them the rows
// wait on, or are lost at the end, with this failure in the log (Windows' ERROR_FILE_EXISTS).
constexpr int kMaxNumberedNames = 99;
constexpr std::int32_t kNoFreeNameNumber = 80;
constexpr std::wstring_view kNoFreeNameDescription =
    L"Kein freier Dateiname neben dem Exportprotokoll";

std::wstring WithSeparator(std::wstring_view directory) {
    std::wstring path(directory);
    if (!path.empty() && path.back() != L'\\')
        path += L'\\';
    return path;
}

// "<stem>.csv", else "<stem> (2).csv", "<stem> (3).csv", …: the first name `take` accepts.
template <typename Take>
std::wstring TakeFreeName(const std::wstring& stem, Take&& take) {
    for (int number = 1; number <= kMaxNumberedNames; ++number) {
        std::wstring name = stem;
        if (number > 1)
            name.append(L" (").append(std::to_wstring(number)).append(L")");
        name += kCsvExtension;
        if (take(name))
            return name;
    }
    throw Failure(kNoFreeNameNumber, std::wstring(kNoFreeNameDescription));
}

std::wstring FileNameOf(const std::wstring& path) {
    return path.substr(path.find_last_of(L'\\') + 1);
}

}  // namespace

ExportJournal::ExportJournal(JournalFile& file, FileSystem& files, ErrorLog& errorLog,
                             std::wstring_view executableDirectory)
    : file_(file),
      files_(files),
      errorLog_(errorLog),
      directory_(WithSeparator(executableDirectory)),
      folder_(directory_ + L"Logs"),
      path_(directory_ + std::wstring(kJournalFileName)) {}

// One error-log line at the start of a streak of failures, none while it lasts.
template <typename Action>
void ExportJournal::Attempt(Action&& action) noexcept {
    try {
        action();
        failure_.reset();
    } catch (const Failure& failure) {
        if (!failure_)
            errorLog_.WriteErrorLog(kJournalProcedure, failure);
        failure_ = failure;
    } catch (...) {
        // Out of memory: what was not formatted is lost, what waits stays; the run goes on.
    }
}

void ExportJournal::Write(const JournalRow& row) noexcept {
    Attempt([&] {
        const std::wstring date = CurrentDateText();
        const std::wstring time = CurrentTimeText();
        if (row.event == kStart) {
            run_ = date + L' ' + time;
            formatChecked_ = false;
        }
        waiting_.push_back(FormatJournalRow(run_, date, time, row));
        WriteWaiting();
    });
}

// Called at every tick, so that rows held back by a program holding the file go in as soon as it
// lets go, not only with the next row.
void ExportJournal::Retry() noexcept {
    if (!waiting_.empty())
        Attempt([this] { WriteWaiting(); });
}

void ExportJournal::Finish() noexcept {
    Retry();
    if (waiting_.empty())
        return;
    try {
        const std::int32_t number = failure_ ? failure_->Number() : 0;
        const std::wstring leftOver = WriteLeftOver();
        waiting_.clear();
        errorLog_.WriteErrorLog(
            kJournalProcedure,
            Failure(number, std::wstring(kLeftOverDescription) + FileNameOf(leftOver)));
    } catch (const Failure& failure) {
        errorLog_.WriteErrorLog(kJournalProcedure, failure);  // the rows are lost
    } catch (...) {
        // Out of memory at the very end: nothing more can be done.
    }
}

void ExportJournal::WriteWaiting() {
    if (!files_.FolderExists(folder_))
        files_.CreateFolder(folder_);
    if (!formatChecked_) {
        SetAsideOtherFormat();
        formatChecked_ = true;
    }
    const std::string opening = JournalOpening();
    while (!waiting_.empty()) {
        file_.Append(path_, opening, waiting_.front());
        waiting_.pop_front();
    }
}

// Rows of this format never go into a journal of another (an older version's columns): such a file
// gets a name of its own first. While it cannot be renamed (Excel has it open), the rows wait.
void ExportJournal::SetAsideOtherFormat() {
    const std::string opening = JournalOpening();
    const std::string start = file_.ReadStart(path_, opening.size());
    if (start.empty() || start == opening)
        return;
    const std::wstring stem = directory_ + std::wstring(kSetAsideStem) +
                              CurrentFileNameTimeText().substr(0, kFileNameDateLength);
    TakeFreeName(stem, [this](const std::wstring& name) { return file_.Rename(path_, name); });
}

// The waiting rows, with the journal's opening, in a new file beside it; answers its path.
std::wstring ExportJournal::WriteLeftOver() {
    std::string content = JournalOpening();
    for (const std::string& row : waiting_)
        content += row;
    const std::wstring stem = directory_ + std::wstring(kLeftOverStem) + CurrentFileNameTimeText();
    return TakeFreeName(stem,
                        [&](const std::wstring& name) { return file_.Create(name, content); });
}

}  // namespace ordovan::journal
