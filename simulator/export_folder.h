#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/win32/handles.h"
#include "simulator/options.h"

// The simulated application's side of the watch folder: it writes a patient's image subfolders,
// marks each finished with a lock file that it keeps open, and lets go of them when told to.
namespace ordovan::simulator {

class ExportFolder {
  public:
    ExportFolder(const Options& options, std::string uidRoot);

    // Writes the patient's subfolders P<patient>_S<series> with their images (and the reference
    // copies); returns the number of images written. Folders are created with their parents.
    int Export(int patient);

    // Creates LOCK.LCK in each of the patient's subfolders and holds it open without delete
    // sharing, so that the subfolders cannot be deleted while the application "has" them.
    void Lock(int patient);

    // Closes every held lock file; returns the patients whose files were let go.
    std::vector<int> Release();

  private:
    std::wstring SubfolderPath(int patient, int series) const;

    const Options& options_;
    std::string uidRoot_;
    std::map<int, std::vector<win32::UniqueFile>> held_;
};

}  // namespace ordovan::simulator
