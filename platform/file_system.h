#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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

// One file as its open handle tells it: which file it is, and its size and last write then.
// Read the same way where an image is copied and where it is deleted, so the two compare alike.
struct FileIdentity {
    std::uint64_t file = 0;  // on the volume of its folder
    std::uint64_t size = 0;
    std::uint64_t lastWrite = 0;  // the platform's file time
    bool operator==(const FileIdentity&) const = default;
};

// One image a copy took: its name in the source folder, the name its copy got in the
// destination, and the source file as it was while it was copied.
struct CopiedImage {
    std::wstring name;
    std::wstring copyName;  // `name`, or "name (2).ext" and on when another image held the name
    FileIdentity source;
    // The name was held by the same bytes already (an earlier run or try), which the copy replaced.
    bool alreadyThere = false;
    bool operator==(const CopiedImage&) const = default;
};

// The images one copy took from one folder, with the identity that folder had before they were
// listed.
struct FolderFiles {
    FolderIdentity folder;
    std::vector<CopiedImage> images;
};

// A folder as one look found it: which folder it is, a fingerprint of what it holds directly
// (every entry's name, and a file's size and last write), and a file below its own level that the
// pattern matches. Two looks compare equal while nothing directly in it was added, removed,
// renamed or rewritten.
struct FolderView {
    FolderIdentity folder;
    std::uint64_t fingerprint = 0;
    std::wstring deeperMatch;  // relative to the folder ("deeper\X.dcm"); empty when there is none
    bool operator==(const FolderView&) const = default;
};

// Called between images and during a long one, so that the caller's window stays alive. It may
// throw to end the copy at once: the image in progress is then not left half written.
using CopyHeartbeat = std::function<void()>;

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // Full paths (no trailing separator) of the folder's direct subfolders, in the platform's
    // order. Fails when the folder does not exist.
    virtual std::vector<std::wstring> SubFolders(std::wstring_view folder) = 0;

    // Copies every file matching the wildcard in the pattern's last component into the
    // destination folder (with or without a trailing "\"). A free name costs one copy call; the
    // destination is never listed. A name already taken by the same bytes is replaced; one taken
    // by other bytes is kept, and the copy goes under the first of "name (2).ext",
    // "name (3).ext", ... that is free or holds the same bytes. Without `overwrite` a taken name
    // fails instead. Fails when nothing matches, when the destination does not exist, or at the
    // first file that cannot be copied (a read-only file holding the same bytes among them);
    // files copied before it stay. A copy gets its name only once it is whole and on the disk, so
    // a copy cut off (a failure, a crash, a power cut) leaves no file under an image's name.
    // Copies are plain files: never read-only, hidden or system. Answers what was copied, each
    // image read from its own handle while it was copied.
    virtual FolderFiles CopyFile(std::wstring_view sourcePattern, std::wstring_view destination,
                                 bool overwrite, const CopyHeartbeat& heartbeat) = 0;

    // Looks at the folder of the pattern without changing anything in it. Folders below it are
    // searched for a match at any depth, but a link among them is not followed. Fails when the
    // folder cannot be opened or listed.
    virtual FolderView ViewFolder(std::wstring_view sourcePattern) = 0;

    // Deletes the folder of the pattern, as DeleteFolder with force does, only when everything
    // in it that matches the pattern is what `copied` took: the same files, unchanged since, each
    // checked and deleted through one handle that lets no writer in. A match below the folder's
    // own level is never deleted. The file named `lastFile` goes last of all, after a look for
    // matches that arrived meanwhile, so that a folder kept for one still holds it. Answers false
    // when the folder is not the one copied, holds a match that was not copied or has changed or
    // one below its own level, or gets a new match before it is removed; what it then keeps
    // includes every unchecked match. Fails like DeleteFolder, a match held open by another
    // program for longer than the brief wait among them.
    virtual bool DeleteCopiedFolder(std::wstring_view sourcePattern, const FolderFiles& copied,
                                    std::wstring_view lastFile) = 0;

    // Removes the folder with everything in it; with force, read-only files and folders too. A
    // link (junction or symbolic link) loses only itself, at any depth, never what it points to.
    // Waits briefly for files other programs hold open for a moment.
    virtual void DeleteFolder(std::wstring_view folder, bool force) = 0;

    virtual bool FolderExists(std::wstring_view path) = 0;
    // True only for an existing file; false for a folder, and for a path that is missing or whose
    // attributes cannot be read.
    virtual bool FileExists(std::wstring_view path) = 0;
    virtual void CreateFolder(std::wstring_view path) = 0;

    // Up to `maxBytes` from the start of the file, fewer when the file is shorter. Other programs
    // may write the file meanwhile; what they wrote so far is read.
    virtual std::vector<std::uint8_t> ReadFileStart(std::wstring_view path,
                                                    std::size_t maxBytes) = 0;

    // Leaves an empty 8-bit text file at the path, replacing an existing one.
    virtual void CreateTextFile(std::wstring_view path) = 0;

    // Appends the line and CR LF to the text file, converted to the system's ANSI code page;
    // creates the file when it is missing. Nothing stays open afterwards.
    virtual void AppendLine(std::wstring_view path, std::wstring_view line) = 0;
};

}  // namespace ordovan
