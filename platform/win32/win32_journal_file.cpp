#include "platform/win32/win32_journal_file.h"

#include <windows.h>

#include <string>

#include "platform/win32/file_write.h"
#include "platform/win32/handles.h"
#include "platform/win32/last_error.h"
#include "platform/win32/long_path.h"

namespace ordovan::win32 {

void Win32JournalFile::Append(std::wstring_view path, std::string_view opening,
                              std::string_view bytes) {
    // Others may read the journal meanwhile (Excel, a viewer); a program holding it for writing
    // makes the open fail, and the row waits for the next one.
    const UniqueFile file(::CreateFileW(ExtendedLengthPath(path).c_str(),
                                        FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        ThrowLastError();
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size))
        ThrowLastError();
    std::string text;
    if (size.QuadPart == 0)
        text = opening;
    text += bytes;
    // One write per row, so that a row lands whole or, on a full disk, is tried again whole.
    WriteWhole(file.get(), text);
}

}  // namespace ordovan::win32
