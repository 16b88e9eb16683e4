#include "journal/export_journal.h"

#include "platform/failure.h"
#include "platform/local_time_text.h"

namespace ordovan::journal {

namespace {

std::wstring BesideExecutable(std::wstring_view executableDirectory, std::wstring_view name) {
    std::wstring path(executableDirectory);
    if (!path.empty() && path.back() != L'\\')
        path += L'\\';
    return path.append(name);
}

}  // namespace

ExportJournal::ExportJournal(JournalFile& file, FileSystem& files, ErrorLog& errorLog,
                             std::wstring_view executableDirectory)
    : file_(file),
      files_(files),
      errorLog_(errorLog),
      folder_(BesideExecutable(executableDirectory, L"Logs")),
      path_(BesideExecutable(executableDirectory, kJournalFileName)) {}

void ExportJournal::WriteWaiting() {
    if (!files_.FolderExists(folder_))
        files_.CreateFolder(folder_);
    const std::string opening = JournalOpening();
    while (!waiting_.empty()) {
        file_.Append(path_, opening, waiting_.front());
        waiting_.pop_front();
    }
}

void ExportJournal::Write(const JournalRow& row) noexcept {
    try {
        waiting_.push_back(FormatJournalRow(CurrentDateText(), CurrentTimeText(), row));
        WriteWaiting();
        failing_ = false;
    } catch (const Failure& failure) {
        if (!failing_)
            errorLog_.WriteErrorLog(kJournalProcedure, failure);
        failing_ = true;
    } catch (...) {
        // Out of memory while formatting: the row is lost, the run goes on.
    }
}

void ExportJournal::Retry() noexcept {
    if (waiting_.empty())
        return;
    try {
        WriteWaiting();
        failing_ = false;
    } catch (...) {
        // Still held or full: the rows keep waiting, and the streak's log line was written.
    }
}

}  // namespace ordovan::journal
