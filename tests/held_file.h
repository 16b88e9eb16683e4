#pragma once

#include <windows.h>

#include <string>

#include "platform/win32/handles.h"

namespace ordovan::test {

// A file held open by another process (tests/file_holder.exe, beside the test program) for as
// long as this object lives or until Release(). The constructor returns once the other process
// has the file; it throws std::runtime_error when it cannot get there. With a hold time, the other
// process lets go of the file on its own that long after it got it.
class HeldFile {
  public:
    // Delete sharing lets others delete the file, which then stays listed until it is let go.
    enum class Sharing { None, Read, Delete };

    HeldFile(const std::wstring& path, Sharing sharing);
    HeldFile(const std::wstring& path, Sharing sharing, DWORD holdMs);
    ~HeldFile();
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    // Lets the other process close the file and waits for it to end; answers whether it ended
    // with its normal exit code.
    bool Release();

  private:
    void Start(const std::wstring& path, Sharing sharing, const std::wstring& holdArgument);

    win32::UniqueKernelHandle ready_;
    win32::UniqueKernelHandle release_;
    win32::UniqueKernelHandle process_;
};

}  // namespace ordovan::test
