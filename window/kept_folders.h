#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace ordovan {

// What the run knows about image subfolders it left in the watch folder.
//
// Held: a subfolder with an image below its own level. Its own images were copied, but nothing
// of it is deleted, and while it looks as it did then it is no export: neither counted nor copied
// again, so it neither stalls the run nor comes back with every patient.
//
// Left over: a copied subfolder that the deletion did not remove (an image came meanwhile, or
// the removal failed). It may have lost its lock file, so it counts as finished until a deletion
// has dealt with it. Known by its identity, not its name: a folder made anew under its name is a
// new export.
class KeptFolders {
  public:
    void Hold(const std::wstring& path, const FolderView& view);
    // How the subfolder looked when it was held; nothing when it is not held.
    const FolderView* HeldAs(const std::wstring& path) const;
    // It has changed: from now on it is an export like any other.
    void LetGo(const std::wstring& path);

    bool AnyLeftOver() const { return !leftOver_.empty(); }
    bool IsLeftOver(const FolderIdentity& folder) const;
    // What a whole deletion left: it dealt with every subfolder left before, which it copied.
    void LeftByDeletion(std::vector<FolderIdentity> folders);
    // What a deletion that failed half-way left, on top of what was left before.
    void AlsoLeft(const std::vector<FolderIdentity>& folders);

  private:
    std::map<std::wstring, FolderView> held_;
    std::vector<FolderIdentity> leftOver_;
};

// The Hinweis of a Behalten row: the subfolder's name and the image below it, "S1: Bild in
// Unterordner deeper\X.dcm".
std::wstring KeptNote(std::wstring_view subfolderName, std::wstring_view deeperImage);

}  // namespace ordovan
