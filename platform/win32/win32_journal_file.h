#pragma once

#include "platform/journal_file.h"

namespace ordovan::win32 {

class Win32JournalFile final : public JournalFile {
  public:
    void Append(std::wstring_view path, std::string_view opening, std::string_view bytes) override;
    bool Create(std::wstring_view path, std::string_view bytes) override;
    std::string ReadStart(std::wstring_view path, std::size_t count) override;
    bool Rename(std::wstring_view from, std::wstring_view to) override;
};

}  // namespace ordovan::win32
