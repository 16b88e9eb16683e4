#include "tests/test_folder.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace ordovan::test {

namespace {

constexpr std::wstring_view kNamePrefix = L"ordovan-test-";

std::wstring TemporaryRoot() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH)
        throw std::runtime_error("no temporary folder");
    return std::wstring(buffer, length);
}

std::wstring CreateUniqueFolder() {
    static std::atomic<unsigned> counter{0};
    const std::wstring root = TemporaryRoot();
    for (;;) {
        const std::wstring path = root + std::wstring(kNamePrefix) +
                                  std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(counter++);
        if (::CreateDirectoryW(path.c_str(), nullptr))
            return path;
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            throw std::runtime_error("no test folder");
    }
}

// Removes the tree with plain Win32 calls in the long-path form: the tests build trees deeper
// than 260 characters, which the C runtime's calls behind std::filesystem cannot reach.
void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    const HANDLE find = ::FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring child = path + L"\\" + name;
            ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            const bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                                  (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
            if (isFolder) {
                RemoveTree(child);
            } else if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                ::RemoveDirectoryW(child.c_str());  // a link: never what it points to
            } else {
                ::DeleteFileW(child.c_str());
            }
        } while (::FindNextFileW(find, &entry));
        ::FindClose(find);
    }
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::RemoveDirectoryW(path.c_str());
}

}  // namespace

TestFolder::TestFolder() : path_(CreateUniqueFolder()) {}

TestFolder::~TestFolder() {
    // Independent of the code under test, so that a broken DeleteFolder cannot leave folders.
    RemoveTree(L"\\\\?\\" + path_);
}

std::wstring TestFolder::PathOf(std::wstring_view relative) const {
    return path_ + L"\\" + std::wstring(relative);
}

void TestFolder::MakeFolder(std::wstring_view relative) const {
    std::filesystem::create_directories(PathOf(relative));
}

void TestFolder::WriteBytes(std::wstring_view relative, std::string_view bytes) const {
    std::ofstream file(std::filesystem::path(PathOf(relative)), std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file)
        throw std::runtime_error("cannot write test file");
}

std::string TestFolder::ReadBytes(std::wstring_view relative) const {
    std::ifstream file(std::filesystem::path(PathOf(relative)), std::ios::binary | std::ios::ate);
    if (!file)
        return {};
    std::string bytes(static_cast<std::size_t>(file.tellg()), '\0');
    file.seekg(0);
    file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

bool TestFolder::Exists(std::wstring_view relative) const {
    return ::GetFileAttributesW(PathOf(relative).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void TestFolder::MakeReadOnly(std::wstring_view relative) const {
    const std::wstring path = PathOf(relative);
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        !::SetFileAttributesW(path.c_str(), attributes | FILE_ATTRIBUTE_READONLY)) {
        throw std::runtime_error("cannot make test entry read-only");
    }
}

}  // namespace ordovan::test
