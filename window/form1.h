#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dicom/patient_fields.h"
#include "errorlog/error_handler.h"
#include "journal/journal.h"
#include "platform/clock.h"
#include "platform/driven_app.h"
#include "platform/file_system.h"
#include "platform/window_system.h"
#include "window/kept_folders.h"
#include "window/run_watch.h"
#include "window/wait_record.h"

namespace ordovan {

// The main window's logic: the Start/Stop command, the keystroke sender, the export poll and the
// next-patient sequence, with the run state they share.
class Form1 final : public WindowEvents {
  public:
    // `watchFolder` is where the imaging application exports: driven_app::kWatchFolder in the
    // program, a folder of their own in tests. `version` is the program's, for the journal's
    // Start rows. `clock` times how long a run waits.
    Form1(WindowSystem& window, FileSystem& files, ErrorLog& log, journal::Journal& journal,
          Clock& clock, std::wstring_view watchFolder, std::wstring_view version)
        : window_(window),
          files_(files),
          log_(log),
          journal_(journal),
          clock_(clock),
          watchFolder_(watchFolder),
          version_(version) {}

    void cmdStart_Click() override;
    void tmrCheck_Timer() override;
    void Form_SessionLock(bool locked) override;
    void Form_Unload(UnloadReason reason) override;

    // Types one key string into the focused window, then pauses `delay` ms. A failure is logged
    // here and not passed on, so the sequence that called it goes on with its next key; the
    // answer says whether the keys went out.
    bool KelvorinX(std::wstring_view keys, bool wait, std::int16_t delay);

    // The user asked the current run to stop.
    bool StopRequested = false;
    // Image subfolders that held a lock file at the last counting tick; 0 after a copying tick.
    std::int16_t LockedCount = 0;

  private:
    // An image subfolder as the copying tick found it, and what it copied from it.
    struct CopiedFolder {
        std::wstring path;
        std::wstring target;
        FolderFiles images;
        FolderView view;  // looked at before the copy
        // With an image below its own level, it stays whole in the watch folder.
        bool IsHeld() const { return !view.deeperMatch.empty(); }
    };

    bool TypeSequence(Sequence sequence, std::size_t from);
    void NoteFrontProgram(bool opening);
    void RunTick();
    void TakeDeferredClicks();
    bool WaitsForUnlock();
    void GoOnAfterUnlock();
    void BeginLockWait(std::wstring note, bool logIt);
    void EndLockWait();
    void RunActive(bool active);
    void EndRun(std::wstring_view event, std::wstring note = {});
    void HandOver(SequencePosition from);
    std::vector<std::wstring> ExportSubfolders();
    bool IsStillHeld(const std::wstring& subfolder);
    bool IsFinished(const std::wstring& subfolder);
    void CopyAndHandOver(const std::vector<std::wstring>& subfolders);
    CopiedFolder CopyFolder(const std::wstring& subfolder);
    void HoldKeptFolders(const std::vector<CopiedFolder>& copiedFolders);
    void CountLockedSubfolders(const std::vector<std::wstring>& subfolders);
    bool PathIsFile(const std::wstring& path);
    void NextPatient(const std::vector<CopiedFolder>& copiedFolders);
    void StayAlive();
    void DeleteCopiedFolders(const std::vector<CopiedFolder>& copiedFolders);
    void JournalStart(const std::wstring& target);
    void JournalCopyingTick(const std::vector<CopiedFolder>& copiedFolders);
    dicom::PatientFields ReadPatient(const CopiedFolder& folder);
    void JournalRunEnd(std::wstring_view event, std::wstring note = {});
    void JournalLongWait();
    std::optional<std::vector<std::wstring>> UnlockedNames();

    WindowSystem& window_;
    FileSystem& files_;
    ErrorLog& log_;
    journal::Journal& journal_;
    Clock& clock_;
    const std::wstring watchFolder_;
    const std::wstring version_;
    // The copying ticks of this run that copied: the journal's patient number.
    std::uint32_t patientNumber_ = 0;
    // Between a Start row and the Stopp or Abgebrochen row that ends its run.
    bool runJournaled_ = false;
    // Set while a tick runs: a tick delivered inside its own event passes is skipped.
    bool tickRunning_ = false;
    RunWatch watch_;
    // What the copying tick copied, until its hand-over has deleted it.
    std::vector<CopiedFolder> handOverFolders_;
    // Subfolders left in the watch folder: held for an image below their own level, or left
    // over by a deletion.
    KeptFolders kept_;
    // How long this run has gone without a copying tick.
    WaitRecord wait_;
};

}  // namespace ordovan
