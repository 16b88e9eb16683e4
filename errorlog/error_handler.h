#pragma once

#include <string>
#include <string_view>

#include "platform/failure.h"
#include "platform/file_system.h"

namespace ordovan {

// Where the window's procedures send the failures that reach their failure paths.
class ErrorLog {
  public:
    virtual ~ErrorLog() = default;
    virtual void WriteErrorLog(std::wstring_view procedureText,
                               const Failure& failure) noexcept = 0;
};

namespace Error_Handler {

inline constexpr std::wstring_view kLogFolderName = L"\\Logs";
inline constexpr std::wstring_view kLogFileName = L"\\Logs\\ErrorLog.log";

// "<date> - <time> # <number> - <description> - <procedure text>", without the line end.
std::wstring FormatLogLine(std::wstring_view date, std::wstring_view time, const Failure& failure,
                           std::wstring_view procedureText);

// Appends one line for the failure to "Logs\ErrorLog.log" under the executable's directory,
// creating folder and file as needed. A failure of its own is swallowed: the caller's failure
// path must always be able to end normally, and no file handle stays open on any path.
void WriteErrorLog(std::wstring_view procedureText, const Failure& failure, FileSystem& files,
                   std::wstring_view executableDirectory) noexcept;

}  // namespace Error_Handler

// The error log beside the running executable.
class LogFile final : public ErrorLog {
  public:
    LogFile(FileSystem& files, std::wstring executableDirectory)
        : files_(files), executableDirectory_(std::move(executableDirectory)) {}

    void WriteErrorLog(std::wstring_view procedureText, const Failure& failure) noexcept override {
        Error_Handler::WriteErrorLog(procedureText, failure, files_, executableDirectory_);
    }

  private:
    FileSystem& files_;
    std::wstring executableDirectory_;
};

}  // namespace ordovan
