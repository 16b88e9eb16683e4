#include "bench/image_trees.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/driven_app.h"
#include "platform/win32/handles.h"
#include "platform/win32/last_error.h"

namespace ordovan::bench {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kSmallImageBytes = 1024;
constexpr std::size_t kBytesPerKib = 1024;
constexpr std::wstring_view kLockFileName = driven_app::kLockFileName;
constexpr std::uint64_t kSeedSpread = 0x9E3779B97F4A7C15ull;

// Random-looking bytes from a seed (xorshift64): content no file system can compress or leave
// sparse, yet the same for the same seed.
std::string PseudoRandomBytes(std::size_t size, std::uint64_t seed) {
    std::string bytes(size, '\0');
    std::uint64_t state = (seed + 1) * kSeedSpread;
    for (std::size_t i = 0; i < size; i += sizeof(state)) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        std::memcpy(bytes.data() + i, &state, std::min(sizeof(state), size - i));
    }
    return bytes;
}

void WriteFileBytes(const std::wstring& path, std::string_view bytes) {
    const win32::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        win32::ThrowLastError();
    DWORD written = 0;
    if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr)) {
        win32::ThrowLastError();
    }
}

std::wstring Numbered(std::wstring_view prefix, int number, int digits) {
    std::wstring text = std::to_wstring(number);
    text.insert(0, static_cast<std::size_t>(std::max(0, digits - static_cast<int>(text.size()))),
                L'0');
    return std::wstring(prefix) + text;
}

std::wstring InFolder(std::wstring_view folder, std::wstring_view name) {
    return std::wstring(folder) + L'\\' + std::wstring(name);
}

}  // namespace

void RemoveFolder(std::wstring_view folder) {
    fs::remove_all(fs::path(folder));
}

void MakeEmptyFolder(std::wstring_view folder) {
    RemoveFolder(folder);
    fs::create_directories(fs::path(folder));
}

void MakeCountTree(std::wstring_view root, int subfolders) {
    MakeEmptyFolder(root);
    for (int i = 0; i < subfolders; ++i) {
        const std::wstring folder = InFolder(root, Numbered(L"S", i + 1, 5));
        fs::create_directory(folder);
        WriteFileBytes(InFolder(folder, L"IM00001.dcm"),
                       PseudoRandomBytes(kSmallImageBytes, static_cast<std::uint64_t>(i)));
        if (i % 2 == 0)
            WriteFileBytes(InFolder(folder, kLockFileName), "");
    }
}

void MakeCrowdedFolder(std::wstring_view folder, int count, int fileKib) {
    MakeEmptyFolder(folder);
    const std::string bytes =
        PseudoRandomBytes(static_cast<std::size_t>(fileKib) * kBytesPerKib, kSeedSpread);
    for (int f = 0; f < count; ++f)
        WriteFileBytes(InFolder(folder, Numbered(L"OTHER", f + 1, 6) + L".dcm"), bytes);
}

void TakeEveryName(std::wstring_view folder, const CopyTreeShape& shape) {
    const std::size_t fileBytes = static_cast<std::size_t>(shape.fileKib) * kBytesPerKib;
    for (int s = 0; s < shape.subfolders; ++s) {
        for (int f = 0; f < shape.FilesPerSubfolder(); ++f) {
            const std::wstring name = Numbered(L"S", s + 1, 3) + Numbered(L"I", f + 1, 5) + L".dcm";
            // Seeds no image of the tree has.
            const auto seed =
                kSeedSpread + static_cast<std::uint64_t>(s) * 100000u + static_cast<unsigned>(f);
            WriteFileBytes(InFolder(folder, name), PseudoRandomBytes(fileBytes, seed));
        }
    }
}

void RemoveFiles(std::wstring_view folder, bool (*picked)(std::wstring_view name)) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(fs::path(folder))) {
        if (picked(entry.path().filename().wstring()))
            files.push_back(entry.path());
    }
    for (const fs::path& file : files)
        fs::remove(file);
}

void MakeCopyTree(std::wstring_view root, const CopyTreeShape& shape) {
    MakeEmptyFolder(root);
    const std::size_t fileBytes = static_cast<std::size_t>(shape.fileKib) * kBytesPerKib;
    for (int s = 0; s < shape.subfolders; ++s) {
        const std::wstring folder = InFolder(root, Numbered(L"S", s + 1, 3));
        fs::create_directory(folder);
        for (int f = 0; f < shape.FilesPerSubfolder(); ++f) {
            // Names unique across subfolders: all of them land in one target folder.
            const std::wstring name = Numbered(L"S", s + 1, 3) + Numbered(L"I", f + 1, 5) + L".dcm";
            const auto seed = static_cast<std::uint64_t>(s) * 100000u + static_cast<unsigned>(f);
            WriteFileBytes(InFolder(folder, name), PseudoRandomBytes(fileBytes, seed));
        }
    }
}

void FlushFiles(std::wstring_view folder) {
    for (const auto& entry : fs::recursive_directory_iterator(fs::path(folder))) {
        if (!entry.is_regular_file())
            continue;
        const win32::UniqueFile file(::CreateFileW(entry.path().c_str(), GENERIC_WRITE,
                                                   FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file || !::FlushFileBuffers(file.get()))
            win32::ThrowLastError();
    }
}

std::vector<std::wstring> ListSubfolders(std::wstring_view folder) {
    std::vector<std::wstring> folders;
    for (const auto& entry : fs::directory_iterator(fs::path(folder))) {
        if (entry.is_directory())
            folders.push_back(entry.path().wstring());
    }
    return folders;
}

int CountFiles(std::wstring_view folder) {
    int files = 0;
    for (const auto& entry : fs::directory_iterator(fs::path(folder)))
        files += entry.is_regular_file() ? 1 : 0;
    return files;
}

}  // namespace ordovan::bench
