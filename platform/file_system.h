#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The folder and file work of the tool. Every operation throws ordovan::Failure carrying the
// platform's error number and description when it fails; tests put a fake in front of the real
// one to make any operation fail on demand.
namespace ordovan {

// Which folder it is, whatever its name: a folder removed and made anew under the same name is
// another folder.
struct FolderIdentity {
    std::uint32_t volume = 0;
    std::uint64_t file = 0;
    bool operator==(const FolderIdentity&) const = default;
};

// A file as a folder listing shows it: enough to tell it from one written or changed later.
struct ListedFile {
    std::wstring name;
    std::uint64_t size = 0;
    std::uint64_t lastWrite = 0;  // the platform's file time
    bool operator==(const ListedFile&) const = default;
};

// The files a wildcard pattern matched in one folder, with the identity that folder had before
// they were listed.
struct FolderFiles {
    FolderIdentity folder;
    std::vector<ListedFile> files;
};

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
    // Answers what was copied, as the source listing showed it. Copies are never read-only.
    virtual FolderFiles CopyFile(std::wstring_view sourcePattern, std::wstring_view destination,
                                 bool overwrite) = 0;

    // The files matching the wildcard in the pattern's last component, read now: what a copy of
    // the same pattern would take. Fails when the folder cannot be read.
    virtual FolderFiles ListFiles(std::wstring_view pattern) = 0;

    // Removes the folder with everything in it; with force, read-only files and folders too. A
    // link (junction or symbolic link) loses only itself, at any depth, never what it points to.
    // Waits briefly for files other programs hold open for a moment.
    virtual void DeleteFolder(std::wstring_view folder, bool force) = 0;

    virtual bool FolderExists(std::wstring_view path) = 0;
    // True only for an existing file; false for a folder, and for a path that is missing or whose
    // attributes cannot be read.
    virtual bool FileExists(std::wstring_view path) = 0;
    virtual void CreateFolder(std::wstring_view path) = 0;

    // Leaves an empty 8-bit text file at the path, replacing an existing one.
    virtual void CreateTextFile(std::wstring_view path) = 0;

    // Appends the line and CR LF to the text file, converted to the system's ANSI code page;
    // creates the file when it is missing. Nothing stays open afterwards.
    virtual void AppendLine(std::wstring_view path, std::wstring_view line) = 0;
};

}  // namespace ordovan
