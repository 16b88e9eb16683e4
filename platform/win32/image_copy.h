#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "platform/file_system.h"

// One image into the common target folder, where every patient's images meet and a name may be
// taken by another patient's image.
namespace ordovan::win32 {

// What a copy is called in the target until it is whole and on the disk: "IMG001.dcm.kopie". No
// "*.dcm" pattern matches it, so an importer watching the target never takes it for an image.
inline constexpr std::wstring_view kUnfinishedSuffix = L".kopie";

// What a handle says of its file: which file it is on its volume, its size and last write, and
// its attributes.
struct HandleFacts {
    FileIdentity identity;
    DWORD attributes;
};
HandleFacts FactsOf(HANDLE file);

// Keeps the caller's window alive during a copy without costing the copy: the caller is called
// before every image, from the copy's progress reports and while a taken name is compared, but at
// most once per period.
class Heartbeat {
  public:
    explicit Heartbeat(const CopyHeartbeat& beat) : beat_(beat) {}
    // Calls the caller when a period has passed since the last call (or there was none).
    void Beat();

  private:
    const CopyHeartbeat& beat_;
    ULONGLONG lastMs_ = 0;
};

// The system calls that put an image's bytes under a name, each of which a network share or a
// full disk can fail half way. Tests put their own in front to make one of them fail.
class CopyCalls {
  public:
    virtual ~CopyCalls() = default;
    // Copies the file to `to`, beating on the way; answers false, having written nothing, when
    // `to` exists. A copy cancelled from the heartbeat leaves nothing.
    virtual bool CopyBytes(const std::wstring& from, const std::wstring& to, Heartbeat& heartbeat);
    // Hands what the system still caches of the file (a handle with write access) to the disk, or
    // to the file server.
    virtual void Flush(HANDLE file);
    // Gives the file the name `to`, written through before it returns. Answers false when the name
    // is taken and `replace` is not set.
    virtual bool Rename(const std::wstring& from, const std::wstring& to, bool replace);
};

// Copies the source file (a "\\?\" path) into the destination folder (a "\\?\" path) under its
// name, or under the first numbered name that is free or holds the same bytes; `overwrite` false
// fails on a taken name instead. The copy is made under the unfinished name, flushed, checked
// against the source's size and only then named, so a copy cut off at any point leaves no file
// under an image's name; a leftover of such a copy is removed first. The source is held open
// against writers meanwhile, and the identity it had then is answered with the name its copy got.
// The copy is a plain file.
CopiedImage CopyImage(const std::wstring& sourceFolder, const std::wstring& name,
                      const std::wstring& destinationFolder, bool overwrite, Heartbeat& heartbeat,
                      CopyCalls& calls);

}  // namespace ordovan::win32
