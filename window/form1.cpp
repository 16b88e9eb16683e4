#include "window/form1.h"

#include <algorithm>
#include <limits>
#include <string>

#include "journal/journal_row.h"
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

// A row of the journal whose images were all in the target already, byte for byte: at the end
// of the patient list the application exports the last patient again and again.
constexpr std::wstring_view kNothingNewNote = L"keine neuen Bilder";

// A path inside an image subfolder (which comes without a trailing separator).
std::wstring InFolder(std::wstring_view folder, std::wstring_view name) {
    std::wstring path(folder);
    path += L'\\';
    path += name;
    return path;
}

// The subfolder's own name, as staff see it in the watch folder.
std::wstring_view NameOf(std::wstring_view path) {
    return path.substr(path.find_last_of(L'\\') + 1);
}

// The failure as the error log's line shows it: "# <number> - <description>".
std::wstring FailureNote(const Failure& failure) {
    std::wstring note = L"# " + std::to_wstring(failure.Number());
    return note.append(kFieldSeparator).append(failure.Description());
}

// Counts one copied subfolder into the row of its patient ID, or starts that row. A subfolder
// without an ID (its header unreadable, or silent about the patient) shares its row with none.
void CountIntoPatientRow(std::vector<journal::JournalRow>& rows, dicom::PatientFields patient,
                         const FolderFiles& copied, const std::wstring& target,
                         std::uint32_t patientNumber) {
    auto row = std::find_if(rows.begin(), rows.end(), [&patient](const journal::JournalRow& r) {
        return !patient.patientId.empty() && r.patientFields.patientId == patient.patientId;
    });
    if (row == rows.end()) {
        rows.push_back({.event = journal::kCopied,
                        .patient = patientNumber,
                        .patientFields = std::move(patient),
                        .imageFolders = 0,
                        .images = 0,
                        .bytes = 0,
                        .renamed = 0,
                        .target = target,
                        .note = std::wstring(kNothingNewNote)});
        row = std::prev(rows.end());
    }
    ++*row->imageFolders;
    *row->images += copied.images.size();
    for (const CopiedImage& image : copied.images) {
        *row->bytes += image.source.size;
        if (image.copyName != image.name)
            ++*row->renamed;
        if (!image.alreadyThere)
            row->note.clear();
    }
}

// The Behalten row of a subfolder left whole for an image below its own level. Its own images
// are counted in its patient's Kopiert row.
journal::JournalRow KeptRow(std::wstring_view path, std::wstring_view deeperImage,
                            dicom::PatientFields patient, const std::wstring& target,
                            std::uint32_t patientNumber) {
    return {.event = journal::kKept,
            .patient = patientNumber,
            .patientFields = std::move(patient),
            .imageFolders = 1,
            .target = target,
            .note = KeptNote(NameOf(path), deeperImage)};
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
        // One listing serves the whole tick: the copy or the count follows at once.
        const std::vector<std::wstring> subfolders = ExportSubfolders();
        if (LockedCount == static_cast<std::int32_t>(subfolders.size())) {
            CopyAndHandOver(subfolders);
        } else {
            CountLockedSubfolders(subfolders);
        }
    } catch (const Failure& failure) {
        log_.WriteErrorLog(kTimerProcedure, failure);
    }
    JournalLongWait();
}

// The watch folder's subfolders that are exports: all but those held for an image below their
// own level and unchanged since.
std::vector<std::wstring> Form1::ExportSubfolders() {
    std::vector<std::wstring> subfolders = files_.SubFolders(watchFolder_);
    std::erase_if(subfolders,
                  [this](const std::wstring& subfolder) { return IsStillHeld(subfolder); });
    return subfolders;
}

// A held subfolder that changed (a new lock file, new images) is a new export.
bool Form1::IsStillHeld(const std::wstring& subfolder) {
    const FolderView* held = kept_.HeldAs(subfolder);
    if (held == nullptr)
        return false;
    try {
        if (files_.ViewFolder(InFolder(subfolder, driven_app::kImagePattern)) == *held)
            return true;
    } catch (const Failure&) {
        // Cannot tell: it counts as an export, whose copy then reports what is wrong.
    }
    kept_.LetGo(subfolder);
    return false;
}

// Finished: it holds its lock file, or it is what the last deletion left over, which may have
// taken the lock file. Known by its identity, since a folder made anew under its name is not.
bool Form1::IsFinished(const std::wstring& subfolder) {
    if (PathIsFile(InFolder(subfolder, driven_app::kLockFileName)))
        return true;
    if (!kept_.AnyLeftOver())
        return false;
    try {
        return kept_.IsLeftOver(
            files_.ViewFolder(InFolder(subfolder, driven_app::kImagePattern)).folder);
    } catch (const Failure&) {
        return false;  // gone or unreadable: not finished
    }
}

// Every image subfolder was finished at the last count: copy the images of all of them, then
// move the imaging application on to the next patient.
void Form1::CopyAndHandOver(const std::vector<std::wstring>& subfolders) {
    std::vector<CopiedFolder> copied;
    for (const std::wstring& subfolder : subfolders)
        copied.push_back(CopyFolder(subfolder));
    ++patientNumber_;
    wait_.Copied(clock_.NowMs());
    JournalCopyingTick(copied);
    HoldKeptFolders(copied);
    LockedCount = 0;
    window_.SetTimerEnabled(false);
    NextPatient(copied);
}

// Looks at the subfolder, then copies the images lying directly in it. One held for an image
// below its own level, or left over from the last deletion, may hold no image of its own: for
// those that is no failure.
Form1::CopiedFolder Form1::CopyFolder(const std::wstring& subfolder) {
    const std::wstring pattern = InFolder(subfolder, driven_app::kImagePattern);
    // Read anew for every folder: the target box stays editable during a run.
    CopiedFolder folder{subfolder, window_.TargetText(), {}, files_.ViewFolder(pattern)};
    try {
        folder.images = files_.CopyFile(pattern, folder.target, true, [this] { StayAlive(); });
    } catch (const Failure& failure) {
        const bool mayBeEmpty = folder.IsHeld() || kept_.IsLeftOver(folder.view.folder);
        if (failure.Number() != kNoImageNumber || !mayBeEmpty)
            throw;
        folder.images.folder = folder.view.folder;
    }
    return folder;
}

// A subfolder with an image below its own level is left whole, since no copy took that image:
// one log line, and it is no export again until it changes.
void Form1::HoldKeptFolders(const std::vector<CopiedFolder>& copiedFolders) {
    for (const CopiedFolder& folder : copiedFolders) {
        if (!folder.IsHeld())
            continue;
        log_.WriteErrorLog(
            kTimerProcedure,
            Failure(kKeptFolderNumber, std::wstring(kKeptFolderDescription) +
                                           KeptNote(NameOf(folder.path), folder.view.deeperMatch)));
        kept_.Hold(folder.path, folder.view);
    }
}

void Form1::CountLockedSubfolders(const std::vector<std::wstring>& subfolders) {
    LockedCount = 0;
    for (const std::wstring& subfolder : subfolders) {
        window_.ProcessPendingEvents();
        if (IsFinished(subfolder)) {
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
        JournalRunEnd(journal::kHalted, FailureNote(failure));
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
// folder: it is not a failure, and goes with the next patient. A copied one that stays is left
// over: it counts as finished at the next count even should it have lost its lock file.
void Form1::DeleteCopiedFolders(const std::vector<CopiedFolder>& copiedFolders) {
    std::vector<FolderIdentity> left;
    for (const std::wstring& subfolder : files_.SubFolders(watchFolder_)) {
        window_.ProcessPendingEvents();
        const auto copied = std::find_if(
            copiedFolders.begin(), copiedFolders.end(),
            [&subfolder](const CopiedFolder& folder) { return folder.path == subfolder; });
        if (copied == copiedFolders.end() || copied->IsHeld())
            continue;
        try {
            if (!files_.DeleteCopiedFolder(InFolder(subfolder, driven_app::kImagePattern),
                                           copied->images, driven_app::kLockFileName)) {
                left.push_back(copied->images.folder);
            }
        } catch (const Failure&) {
            // A removal that failed half-way may have taken the lock file.
            left.push_back(copied->images.folder);
            kept_.AlsoLeft(left);
            throw;
        }
    }
    kept_.LeftByDeletion(std::move(left));
}

void Form1::JournalStart(const std::wstring& target) {
    patientNumber_ = 0;
    runJournaled_ = true;
    wait_.Begin(clock_.NowMs());
    journal_.Write({.event = journal::kStart,
                    .target = target,
                    .note = std::wstring(form1::kCaption) + L' ' + version_});
}

// One Kopiert row per patient ID among the copied subfolders, then one Behalten row per subfolder
// left whole, or one Leer row when the tick copied none: an empty export hands over to the next
// patient as the copying does, and only this row shows it afterwards.
void Form1::JournalCopyingTick(const std::vector<CopiedFolder>& copiedFolders) {
    try {
        std::vector<journal::JournalRow> rows;
        std::vector<journal::JournalRow> keptRows;
        for (const CopiedFolder& folder : copiedFolders) {
            dicom::PatientFields patient = ReadPatient(folder);
            if (folder.IsHeld()) {
                keptRows.push_back(KeptRow(folder.path, folder.view.deeperMatch, patient,
                                           folder.target, patientNumber_));
            }
            if (!folder.images.images.empty()) {
                CountIntoPatientRow(rows, std::move(patient), folder.images, folder.target,
                                    patientNumber_);
            }
        }
        if (rows.empty() && keptRows.empty()) {
            journal_.Write({.event = journal::kEmpty,
                            .patient = patientNumber_,
                            .imageFolders = 0,
                            .images = 0,
                            .bytes = 0,
                            .target = window_.TargetText()});
            return;
        }
        rows.insert(rows.end(), keptRows.begin(), keptRows.end());
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

// The Stopp or Angehalten row: written once for the run that the last Start row opened.
void Form1::JournalRunEnd(std::wstring_view event, std::wstring note) {
    wait_.End();
    if (!runJournaled_)
        return;
    runJournaled_ = false;
    journal_.Write({.event = event, .patient = patientNumber_, .note = std::move(note)});
}

// A run that has not copied for 15 minutes says so, and again after every further full hour: the
// imaging application may hang, show a message, or have reached the end of its list, and the
// journal would otherwise just stop.
void Form1::JournalLongWait() {
    const std::optional<std::int64_t> waited = wait_.Due(clock_.NowMs());
    if (!waited)
        return;
    journal_.Write({.event = journal::kWaiting,
                    .patient = patientNumber_,
                    .note = WaitNote(*waited, UnlockedNames())});
}

// The names of the export subfolders that are not finished; nothing when the watch folder
// cannot be read.
std::optional<std::vector<std::wstring>> Form1::UnlockedNames() {
    try {
        std::vector<std::wstring> names;
        for (const std::wstring& subfolder : ExportSubfolders()) {
            if (!IsFinished(subfolder))
                names.emplace_back(NameOf(subfolder));
        }
        return names;
    } catch (const Failure&) {
        return std::nullopt;
    }
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
