#include "bench/timed_file_system.h"

#include "bench/stopwatch.h"

// <windows.h> maps CopyFile to CopyFileW; our interface has a member of that name.
#undef CopyFile

namespace ordovan::bench {

namespace {

constexpr std::array<std::string_view, kFileOperationCount> kOperationNames{
    "SubFolders",   "CopyFile",      "DeleteCopiedFolder", "DeleteFolder",
    "FolderExists", "FileExists",    "CreateFolder",       "CreateTextFile",
    "AppendLine",   "ReadFileStart", "ViewFolder",
};

}  // namespace

std::string_view OperationName(FileOperation operation) {
    return kOperationNames[static_cast<std::size_t>(operation)];
}

// Books the time of one call on every way out, a failing call included.
class TimedFileSystem::Timing {
  public:
    explicit Timing(Account& account) : account_(account) {}
    ~Timing() {
        account_.ticks += CounterNow() - start_;
        ++account_.calls;
    }
    Timing(const Timing&) = delete;
    Timing& operator=(const Timing&) = delete;

  private:
    Account& account_;
    std::int64_t start_ = CounterNow();
};

void TimedFileSystem::Reset() {
    accounts_ = {};
}

double TimedFileSystem::Milliseconds(FileOperation operation) const {
    return CounterToMs(accounts_[static_cast<std::size_t>(operation)].ticks);
}

int TimedFileSystem::Calls(FileOperation operation) const {
    return accounts_[static_cast<std::size_t>(operation)].calls;
}

TimedFileSystem::Account& TimedFileSystem::AccountOf(FileOperation operation) {
    return accounts_[static_cast<std::size_t>(operation)];
}

std::vector<std::wstring> TimedFileSystem::SubFolders(std::wstring_view folder) {
    const Timing timing(AccountOf(FileOperation::SubFolders));
    return inner_.SubFolders(folder);
}

FolderFiles TimedFileSystem::CopyFile(std::wstring_view sourcePattern,
                                      std::wstring_view destination, bool overwrite,
                                      const CopyHeartbeat& heartbeat) {
    const Timing timing(AccountOf(FileOperation::CopyFile));
    return inner_.CopyFile(sourcePattern, destination, overwrite, heartbeat);
}

FolderView TimedFileSystem::ViewFolder(std::wstring_view sourcePattern) {
    const Timing timing(AccountOf(FileOperation::ViewFolder));
    return inner_.ViewFolder(sourcePattern);
}

bool TimedFileSystem::DeleteCopiedFolder(std::wstring_view sourcePattern, const FolderFiles& copied,
                                         std::wstring_view lastFile) {
    const Timing timing(AccountOf(FileOperation::DeleteCopiedFolder));
    return inner_.DeleteCopiedFolder(sourcePattern, copied, lastFile);
}

void TimedFileSystem::DeleteFolder(std::wstring_view folder, bool force) {
    const Timing timing(AccountOf(FileOperation::DeleteFolder));
    inner_.DeleteFolder(folder, force);
}

bool TimedFileSystem::FolderExists(std::wstring_view path) {
    const Timing timing(AccountOf(FileOperation::FolderExists));
    return inner_.FolderExists(path);
}

bool TimedFileSystem::FileExists(std::wstring_view path) {
    const Timing timing(AccountOf(FileOperation::FileExists));
    return inner_.FileExists(path);
}

void TimedFileSystem::CreateFolder(std::wstring_view path) {
    const Timing timing(AccountOf(FileOperation::CreateFolder));
    inner_.CreateFolder(path);
}

void TimedFileSystem::CreateTextFile(std::wstring_view path) {
    const Timing timing(AccountOf(FileOperation::CreateTextFile));
    inner_.CreateTextFile(path);
}

void TimedFileSystem::AppendLine(std::wstring_view path, std::wstring_view line) {
    const Timing timing(AccountOf(FileOperation::AppendLine));
    inner_.AppendLine(path, line);
}

std::vector<std::uint8_t> TimedFileSystem::ReadFileStart(std::wstring_view path,
                                                         std::size_t maxBytes) {
    const Timing timing(AccountOf(FileOperation::ReadFileStart));
    return inner_.ReadFileStart(path, maxBytes);
}

}  // namespace ordovan::bench
