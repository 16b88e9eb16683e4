#pragma once

#include <windows.h>

#include <string>

#include "platform/file_system.h"

// One image into the common target folder, where every patient's images meet and a name may be
// taken by another patient's image.
namespace ordovan::win32 {

// What a handle says of its file.
BY_HANDLE_FILE_INFORMATION InformationOf(HANDLE file);
// Which file it is, its size and last write.
FileIdentity IdentityFrom(const BY_HANDLE_FILE_INFORMATION& information);

// Keeps the caller's window alive during a copy without costing the copy: the caller is called
// before every image and from the copy's progress reports, but at most once per period.
class Heartbeat {
  public:
    explicit Heartbeat(const CopyHeartbeat& beat) : beat_(beat) {}
    // Calls the caller when a period has passed since the last call (or there was none).
    void Beat();

  private:
    const CopyHeartbeat& beat_;
    ULONGLONG lastMs_ = 0;
};

// Copies the source file (a "\\?\" path) into the destination folder (a "\\?\" path) under its
// name, or under the first numbered name that is free or holds the same bytes; `overwrite` false
// fails on a taken name instead. The source is held open against writers while it is copied, and
// the identity it had then is answered with the name its copy got. The copy is a plain file.
CopiedImage CopyImage(const std::wstring& sourceFolder, const std::wstring& name,
                      const std::wstring& destinationFolder, bool overwrite, Heartbeat& heartbeat);

}  // namespace ordovan::win32
