#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

// Puts itself in front of the real file system and adds up the wall time spent in each kind of
// operation, so that one tick's copy time can be told from its deletion time.
namespace ordovan::bench {

enum class FileOperation {
    SubFolders,
    CopyFile,
    DeleteCopiedFolder,
    DeleteFolder,
    FolderExists,
    FileExists,
    CreateFolder,
    CreateTextFile,
    AppendLine,
    ReadFileStart,
    ViewFolder,
};
inline constexpr std::size_t kFileOperationCount = 11;

std::string_view OperationName(FileOperation operation);

class TimedFileSystem final : public FileSystem {
  public:
    explicit TimedFileSystem(FileSystem& inner) : inner_(inner) {}

    void Reset();
    double Milliseconds(FileOperation operation) const;
    int Calls(FileOperation operation) const;

    std::vector<std::wstring> SubFolders(std::wstring_view folder) override;
    FolderFiles CopyFile(std::wstring_view sourcePattern, std::wstring_view destination,
                         bool overwrite, const CopyHeartbeat& heartbeat) override;
    FolderView ViewFolder(std::wstring_view sourcePattern) override;
    bool DeleteCopiedFolder(std::wstring_view sourcePattern, const FolderFiles& copied,
                            std::wstring_view lastFile) override;
    void DeleteFolder(std::wstring_view folder, bool force) override;
    bool FolderExists(std::wstring_view path) override;
    bool FileExists(std::wstring_view path) override;
    void CreateFolder(std::wstring_view path) override;
    void CreateTextFile(std::wstring_view path) override;
    void AppendLine(std::wstring_view path, std::wstring_view line) override;
    std::vector<std::uint8_t> ReadFileStart(std::wstring_view path, std::size_t maxBytes) override;

  private:
    struct Account {
        std::int64_t ticks = 0;
        int calls = 0;
    };
    class Timing;

    Account& AccountOf(FileOperation operation);

    FileSystem& inner_;
    std::array<Account, kFileOperationCount> accounts_{};
};

}  // namespace ordovan::bench
