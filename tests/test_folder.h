#pragma once

#include <string>
#include <string_view>

namespace ordovan::test {

// A fresh folder of its own under the user's temporary folder for one test, removed with all its
// content, read-only entries included, when the test ends. Entries are named relative to it.
class TestFolder {
  public:
    TestFolder();
    ~TestFolder();
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    const std::wstring& Path() const { return path_; }
    std::wstring PathOf(std::wstring_view relative) const;

    void MakeFolder(std::wstring_view relative) const;
    void WriteBytes(std::wstring_view relative, std::string_view bytes) const;
    // The file's whole content; empty when it cannot be read (the test's checks then fail).
    std::string ReadBytes(std::wstring_view relative) const;
    bool Exists(std::wstring_view relative) const;
    void MakeReadOnly(std::wstring_view relative) const;

  private:
    std::wstring path_;
};

}  // namespace ordovan::test
