#pragma once

#include <string>
#include <vector>

#include "platform/file_system.h"

namespace ordovan::test {

// Where Form1 looks when its file system is the stub: a path nothing on disk answers to.
inline constexpr std::wstring_view kStubWatchFolder = L"X:\\Stub\\PACS";

// A watch folder that exists only in memory: the given subfolders, every path in them with the
// given attributes, copies and deletions counted but not done. For tests that must not touch the
// real watch folder.
class StubFileSystem final : public FileSystem {
  public:
    std::vector<std::wstring> subfolders;
    int copies = 0;
    int deletions = 0;

    std::vector<std::wstring> SubFolders(std::wstring_view) override { return subfolders; }
    FolderFiles CopyFile(std::wstring_view, std::wstring_view, bool,
                         const CopyHeartbeat&) override {
        ++copies;
        return {};
    }
    FolderView ViewFolder(std::wstring_view) override { return {}; }
    bool DeleteCopiedFolder(std::wstring_view, const FolderFiles&, std::wstring_view) override {
        ++deletions;
        return true;
    }
    void DeleteFolder(std::wstring_view, bool) override { ++deletions; }
    bool FolderExists(std::wstring_view) override { return true; }
    bool FileExists(std::wstring_view) override { return true; }
    void CreateFolder(std::wstring_view) override {}
    void CreateTextFile(std::wstring_view) override {}
    void AppendLine(std::wstring_view, std::wstring_view) override {}
    std::vector<std::uint8_t> ReadFileStart(std::wstring_view, std::size_t) override { return {}; }
};

}  // namespace ordovan::test
