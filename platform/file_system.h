#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The folder and file work of the tool. Every operation throws ordovan::Failure carrying the
// platform's error number and description when it fails; tests put a fake in front of the real
// one to make any operation fail on demand.
namespace ordovan {

inline constexpr std::uint32_t kDirectoryAttribute = 0x10;  // FILE_ATTRIBUTE_DIRECTORY

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // Full paths (no trailing separator) of the folder's direct subfolders, in the platform's
    // order. Fails when the folder does not exist.
    virtual std::vector<std::wstring> SubFolders(std::wstring_view folder) = 0;

    // Copies every file matching the wildcard in the pattern's last component into the
    // destination folder (with or without a trailing "\"), under the same names. Fails when
    // nothing matches, when the destination does not exist, or at the first file that cannot be
    // copied (a read-only file of the same name among them); files copied before it stay.
    virtual void CopyFile(std::wstring_view sourcePattern, std::wstring_view destination,
                          bool overwrite) = 0;

    // Removes the folder with everything in it; with force, read-only files and folders too.
    virtual void DeleteFolder(std::wstring_view folder, bool force) = 0;

    virtual bool FolderExists(std::wstring_view path) = 0;
    virtual bool FileExists(std::wstring_view path) = 0;
    virtual void CreateFolder(std::wstring_view path) = 0;

    // Leaves an empty 8-bit text file at the path, replacing an existing one.
    virtual void CreateTextFile(std::wstring_view path) = 0;

    // Appends the line and CR LF to the text file, converted to the system's ANSI code page;
    // creates the file when it is missing. Nothing stays open afterwards.
    virtual void AppendLine(std::wstring_view path, std::wstring_view line) = 0;

    // The path's attribute bits. Fails when the path does not exist.
    virtual std::uint32_t GetAttributes(std::wstring_view path) = 0;
};

}  // namespace ordovan
