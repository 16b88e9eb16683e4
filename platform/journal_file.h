#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ordovan {

// The export journal's file work: a UTF-8 file that the system's ANSI text output
// (FileSystem::AppendLine) cannot write. Every call opens and closes what it needs within itself
// and throws ordovan::Failure for what the system refuses.
class JournalFile {
  public:
    virtual ~JournalFile() = default;

    // Appends the bytes to the file, creating it when missing; a file that is new or empty gets
    // the opening bytes first. Fails when the file cannot be opened (another program holds it) or
    // written (the disk is full).
    virtual void Append(std::wstring_view path, std::string_view opening,
                        std::string_view bytes) = 0;

    // Makes a new file holding the bytes. Answers false, and touches nothing, when the name is
    // taken.
    virtual bool Create(std::wstring_view path, std::string_view bytes) = 0;

    // The file's first `count` bytes, fewer when it is shorter; empty when there is no such file.
    virtual std::string ReadStart(std::wstring_view path, std::size_t count) = 0;

    // Gives the file the name `to` in the same folder. Answers false, and touches nothing, when
    // that name is taken.
    virtual bool Rename(std::wstring_view from, std::wstring_view to) = 0;
};

}  // namespace ordovan
