#include "window/form1.h"

#include <algorithm>
#include <limits>
#include <string>

#include "journal/journal_row.h"
#include "journal/patient_rows.h"
#include "platform/key_notation.h"
#include "window/form1_design.h"

namespace ordovan {

namespace {

constexpr std::wstring_view kStartProcedure = L"cmdStart_Click";
constexpr std::wstring_view kTimerProcedure = L"tmrCheck_Timer";
constexpr std::wstring_view kNextPatientProcedure = L"NextPatient";
constexpr std::wstring_view kKeysProcedure = L"KelvorinX - ";
constexpr std::wstring_view kFieldSeparator = L" - ";
// How the wait flag reads in the log: the German words, like the rest of what staff see.
constexpr std::wstring_view kTrueText = L"Wahr";
constexpr std::wstring_view kFalseText = L"Falsch";

// Names the key string, wait flag and delay of a failed KelvorinX call, so that the log line
// tells which key of which sequence went wrong.
std::wstring KeysProcedureText(std::wstring_view keys, bool wait, std::int16_t delay) {
    std::wstring text(kKeysProcedure);
    text += keys;
    text += kFieldSeparator;
    text += wait ? kTrueText : kFalseText;
    text += kFieldSeparator;
    text += std::to_wstring(delay);
    return text;
}

// A path inside an image subfolder (which comes without a trailing separator).
std::wstring InFolder(std::wstring_view folder, std::wstring_view name) {
    std::wstring path(folder);
    path += L'\\';
    path += name;
    return path;
}

// The failure as the error log's line shows it: "# <number> - <description>".
std::wstring FailureNote(const Failure& failure) {
    std::wstring note = L"# " + std::to_wstring(failure.Number());
    return note.append(kFieldSeparator).append(failure.Description());
}

}  // namespace

void Form1::cmdStart_Click() {
    try {
        if (window_.ButtonCaption() != form1::kStartCaption) {
            // Any caption but "Start" asks the run to stop; the poll's next tick switches the
            // timer off.
            StopRequested = true;
            window_.SetButtonCaption(form1::kStartCaption);
            return;
        }
        StopRequested = false;
        std::wstring target = window_.TargetText();
        if (target.empty()) {
            window_.ShowMessage(form1::kEmptyTargetMessage, form1::kMessageTitle);
            return;
        }
        if (target.back() != L'\\') {
            target += L'\\';
            window_.SetTargetText(target);
        }
        window_.SetButtonCaption(form1::kStopCaption);
        JournalStart(target);
        window_.KeepAwake(true);
        window_.Sleep(driven_app::kPauseBeforeOpeningMs);
        SendKeySequence(driven_app::kOpeningSequence);
        window_.SetTimerEnabled(true);
    } catch (const Failure& failure) {
        log_.WriteErrorLog(kStartProcedure, failure);
    }
}

void Form1::tmrCheck_Timer() {
    // Rows held back while another program had the journal open go in at the next tick.
    journal_.Retry();
    if (tickRunning_)
        return;
    tickRunning_ = true;
    // Reset on every way out, WindowClosed included.
    const struct TickEnd {
        bool& running;
        ~TickEnd() { running = false; }
    } tickEnd{tickRunning_};

    try {
        if (StopRequested) {
            window_.SetTimerEnabled(false);
            window_.KeepAwake(false);
            JournalRunEnd(journal::kStopped);
            return;
        }
        const auto subfolderCount =
            static_cast<std::int32_t>(files_.SubFolders(watchFolder_).size());
        if (LockedCount == subfolderCount) {
            CopyAndHandOver();
        } else {
            CountLockedSubfolders();
        }
    } catch (const Failure& failure) {
        log_.WriteErrorLog(kTimerProcedure, failure);
    }
}

// Every image subfolder held its lock file at the last count: copy the images of all of them,
// then move the imaging application on to the next patient.
void Form1::CopyAndHandOver() {
    std::vector<CopiedFolder> copied;
    for (const std::wstring& subfolder : files_.SubFolders(watchFolder_)) {
        // Read anew for every folder: the target box stays editable during a run.
        std::wstring target = window_.TargetText();
        FolderFiles images = files_.CopyFile(InFolder(subfolder, driven_app::kImagePattern), target,
                                             true, [this] { StayAlive(); });
        copied.push_back({subfolder, std::move(target), std::move(images)});
    }
    ++patientNumber_;
    JournalCopyingTick(copied);
    LockedCount = 0;
    window_.SetTimerEnabled(false);
    NextPatient(copied);
}

void Form1::CountLockedSubfolders() {
    LockedCount = 0;
    for (const std::wstring& subfolder : files_.SubFolders(watchFolder_)) {
        window_.ProcessPendingEvents();
        if (PathIsFile(InFolder(subfolder, driven_app::kLockFileName))) {
            if (LockedCount == std::numeric_limits<std::int16_t>::max()) {
                throw Failure(kCountOverflowNumber, std::wstring(kCountOverflowDescription));
            }
            ++LockedCount;
        }
    }
}

bool Form1::PathIsFile(const std::wstring& path) {
    try {
        // A plain yes or no: a subfolder still being exported holds no lock file, and turning
        // each such miss into a failure with its text made counting 10 to 15 % slower.
        return files_.FileExists(path);
    } catch (const Failure&) {
        return false;  // inaccessible or invalid: not a lock file
    }
}

void Form1::NextPatient(const std::vector<CopiedFolder>& copiedFolders) {
    try {
        if (StopRequested) {
            window_.KeepAwake(false);  // the run ends here: the timer stays off
            JournalRunEnd(journal::kStopped);
            return;
        }
        SendKeySequence(driven_app::kPreDeletionKeys);
        DeleteCopiedFolders(copiedFolders);
        SendKeySequence(driven_app::kNextPatientSequence);
        window_.SetTimerEnabled(true);
    } catch (const Failure& failure) {
        log_.WriteErrorLog(kNextPatientProcedure, failure);
        window_.KeepAwake(false);  // halted
        JournalRunEnd(journal::kAborted, FailureNote(failure));
    }
}

// A copy of many or large images, over a network share, easily outlasts the 5 seconds after
// which Windows calls a window hung. So the copy lets the window look at its queue as a pause
// does: it paints and takes a request to close, which ends the program at once (WindowClosed),
// with the image in progress cancelled and nothing deleted. Nothing else is serviced.
void Form1::StayAlive() {
    window_.Sleep(0);
}

// Only folders whose images are all safely in the target go. One that appeared since the copy,
// was made anew under a copied name, or holds an image added or changed since stays in the watch
// folder: it is not a failure, and goes with the next patient.
void Form1::DeleteCopiedFolders(const std::vector<CopiedFolder>& copiedFolders) {
    for (const std::wstring& subfolder : files_.SubFolders(watchFolder_)) {
        window_.ProcessPendingEvents();
        const auto copied = std::find_if(
            copiedFolders.begin(), copiedFolders.end(),
            [&subfolder](const CopiedFolder& folder) { return folder.path == subfolder; });
        if (copied != copiedFolders.end()) {
            files_.DeleteCopiedFolder(InFolder(subfolder, driven_app::kImagePattern),
                                      copied->images);
        }
    }
}

void Form1::JournalStart(const std::wstring& target) {
    patientNumber_ = 0;
    runJournaled_ = true;
    journal_.Write({.event = journal::kStart,
                    .target = target,
                    .note = std::wstring(form1::kCaption) + L' ' + version_});
}

// One Kopiert row per patient ID among the copied subfolders, or one Kein Export row when the tick
// found none: an empty export hands over to the next patient as the copying does, and only this
// row shows it afterwards.
void Form1::JournalCopyingTick(const std::vector<CopiedFolder>& copiedFolders) {
    try {
        if (copiedFolders.empty()) {
            journal_.Write({.event = journal::kNoExport,
                            .patient = patientNumber_,
                            .imageFolders = 0,
                            .images = 0,
                            .bytes = 0,
                            .target = window_.TargetText()});
            return;
        }
        std::vector<journal::JournalRow> rows;
        for (const CopiedFolder& folder : copiedFolders) {
            journal::CountIntoPatientRow(rows, ReadPatient(folder), folder.images, folder.target,
                                         patientNumber_);
        }
        for (const journal::JournalRow& row : rows)
            journal_.Write(row);
    } catch (const Failure&) {
        // The target box could not be read: the row is lost, and the run goes on as without it.
    }
}

// The patient of the subfolder's first image, read from the source, which stays in place until
// the deletion. One read per subfolder keeps the copying tick's cost near that of the copy.
dicom::PatientFields Form1::ReadPatient(const CopiedFolder& folder) {
    if (folder.images.images.empty())
        return {};
    try {
        return dicom::ReadPatientFields(files_.ReadFileStart(
            InFolder(folder.path, folder.images.images.front().name), dicom::kHeaderReadLimit));
    } catch (const Failure&) {
        return {};  // unreadable: the row keeps its counts with empty patient fields
    }
}

// The Stopp or Abgebrochen row: written once for the run that the last Start row opened.
void Form1::JournalRunEnd(std::wstring_view event, std::wstring note) {
    if (!runJournaled_)
        return;
    runJournaled_ = false;
    journal_.Write({.event = event, .patient = patientNumber_, .note = std::move(note)});
}

void Form1::KelvorinX(std::wstring_view keys, bool wait, std::int16_t delay) {
    try {
        window_.SendKeys(ParseKeyString(keys), wait);
        window_.Sleep(delay);
    } catch (const Failure& failure) {
        log_.WriteErrorLog(KeysProcedureText(keys, wait, delay), failure);
    }
}

void Form1::SendKeySequence(std::span<const driven_app::KeyStep> steps) {
    for (const driven_app::KeyStep& step : steps) {
        if (step.IsPause()) {
            window_.Sleep(step.delayMs);
        } else {
            KelvorinX(step.keys, step.wait, step.delayMs);
        }
    }
}

}  // namespace ordovan
