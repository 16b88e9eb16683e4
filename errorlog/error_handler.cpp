#include "errorlog/error_handler.h"

#include <string>

#include "platform/local_time_text.h"

namespace ordovan::Error_Handler {

namespace {

// The name constants start with a separator; a drive root already ends with one.
std::wstring BesideExecutable(std::wstring_view executableDirectory, std::wstring_view name) {
    std::wstring path(executableDirectory);
    if (!path.empty() && path.back() == L'\\')
        name.remove_prefix(1);
    path += name;
    return path;
}

void EnsureLogFile(FileSystem& files, const std::wstring& folder, const std::wstring& file) {
    if (!files.FolderExists(folder)) {
        files.CreateFolder(folder);
        files.CreateTextFile(file);
    } else if (!files.FileExists(file)) {
        files.CreateTextFile(file);
    }
}

}  // namespace

std::wstring FormatLogLine(std::wstring_view date, std::wstring_view time, const Failure& failure,
                           std::wstring_view procedureText) {
    std::wstring line;
    line.append(date).append(L" - ").append(time);
    line.append(L" # ").append(std::to_wstring(failure.Number()));
    line.append(L" - ").append(failure.Description());
    line.append(L" - ").append(procedureText);
    return line;
}

void WriteErrorLog(std::wstring_view procedureText, const Failure& failure, FileSystem& files,
                   std::wstring_view executableDirectory) noexcept {
    try {
        const std::wstring procedure(procedureText);
        const std::wstring logFolder = BesideExecutable(executableDirectory, kLogFolderName);
        const std::wstring logFile = BesideExecutable(executableDirectory, kLogFileName);
        EnsureLogFile(files, logFolder, logFile);
        files.AppendLine(logFile,
                         FormatLogLine(CurrentDateText(), CurrentTimeText(), failure, procedure));
    } catch (...) {
        // The log is the last resort of a failure path; losing one line must not end that path
        // abnormally, whatever went wrong here (missing rights, a locked file, no memory).
    }
}

}  // namespace ordovan::Error_Handler
