#pragma once

#include "platform/file_system.h"

namespace ordovan::win32 {

class CopyCalls;  // platform/win32/image_copy.h, which brings in <windows.h>

// The tool's folder and file work on the Win32 file APIs. Holds no state but the calls its copies
// make: every call opens and releases what it needs. Every path reaches Windows as a full path in
// its "\\?\" form, so that paths beyond MAX_PATH work without the registry's long-path switch.
class Win32FileSystem final : public FileSystem {
  public:
    Win32FileSystem() = default;
    // Copies through these calls instead of the system's own; they must outlive this object.
    explicit Win32FileSystem(CopyCalls& calls) : calls_(&calls) {}

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
    std::vector<std::uint8_t> ReadFileStart(std::wstring_view path, std::size_t maxBytes) override;
    void CreateTextFile(std::wstring_view path) override;
    void AppendLine(std::wstring_view path, std::wstring_view line) override;

  private:
    static CopyCalls systemCalls_;
    CopyCalls* calls_ = &systemCalls_;
};

}  // namespace ordovan::win32
