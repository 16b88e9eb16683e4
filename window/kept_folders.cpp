#include "window/kept_folders.h"

#include <algorithm>

namespace ordovan {

namespace {

constexpr std::wstring_view kKeptReason = L": Bild in Unterordner ";

}  // namespace

void KeptFolders::Hold(const std::wstring& path, const FolderView& view) {
    held_.insert_or_assign(path, view);
}

const FolderView* KeptFolders::HeldAs(const std::wstring& path) const {
    const auto held = held_.find(path);
    return held == held_.end() ? nullptr : &held->second;
}

void KeptFolders::LetGo(const std::wstring& path) {
    held_.erase(path);
}

bool KeptFolders::IsLeftOver(const FolderIdentity& folder) const {
    return std::find(leftOver_.begin(), leftOver_.end(), folder) != leftOver_.end();
}

void KeptFolders::LeftByDeletion(std::vector<FolderIdentity> folders) {
    leftOver_ = std::move(folders);
}

void KeptFolders::AlsoLeft(const std::vector<FolderIdentity>& folders) {
    for (const FolderIdentity& folder : folders) {
        if (!IsLeftOver(folder))
            leftOver_.push_back(folder);
    }
}

std::wstring KeptNote(std::wstring_view subfolderName, std::wstring_view deeperImage) {
    std::wstring note(subfolderName);
    return note.append(kKeptReason).append(deeperImage);
}

}  // namespace ordovan
