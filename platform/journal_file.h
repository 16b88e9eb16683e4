#pragma once

#include <string_view>

namespace ordovan {

// Appending to the export journal, a UTF-8 file that the system's ANSI text output
// (FileSystem::AppendLine) cannot write.
class JournalFile {
  public:
    virtual ~JournalFile() = default;

    // Appends the bytes to the file, creating it when missing; a file that is new or empty gets
    // the opening bytes first. Opened and closed within the call. Throws ordovan::Failure when the
    // file cannot be opened (another program holds it) or written (the disk is full).
    virtual void Append(std::wstring_view path, std::string_view opening,
                        std::string_view bytes) = 0;
};

}  // namespace ordovan
