#pragma once

#include "platform/journal_file.h"

namespace ordovan::win32 {

class Win32JournalFile final : public JournalFile {
  public:
    void Append(std::wstring_view path, std::string_view opening, std::string_view bytes) override;
};

}  // namespace ordovan::win32
