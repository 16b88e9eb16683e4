#include "window/form1.h"

#include <algorithm>
#include <limits>
#include <string>
#include <utility>

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

constexpr std::wstring_view kLockProcedure = L"Bildschirmsperre";
// Windows answers a program that types into a locked session with access denied: the wait's log
// line carries that number, with a text that says what the run does.
constexpr std::int32_t kScreenLockedNumber = 5;
constexpr std::wstring_view kScreenLockedDescription =
    L"Bildschirm gesperrt: der Lauf wartet, bis er entsperrt ist";
constexpr std::wstring_view kLockReportedNote = L"Windows meldet die Sperre";
constexpr std::wstring_view kLockSeenAtTickNote = L"gesperrt beim Abfragen";
constexpr std::wstring_view kLockBeforeKeysNote = L"gesperrt vor den Tasten";
constexpr std::wstring_view kRefusedKeyNote = L"Taste abgewiesen: ";
constexpr std::wstring_view kShutdownReason =
    L"Copy Ordovan exportiert Bilder \u2013 bitte zuerst Stop dr\u00fccken";
constexpr std::wstring_view kWindowsEndingNote = L"Windows wird beendet";
constexpr std::wstring_view kClosedNote = L"Fenster geschlossen";

std::span<const driven_app::KeyStep> StepsOf(Sequence sequence) {
    switch (sequence) {
        case Sequence::Opening:
            return driven_app::kOpeningSequence;
        case Sequence::PreDeletion:
            return driven_app::kPreDeletionKeys;
        case Sequence::NextPatient:
            return driven_app::kNextPatientSequence;
    }
    return {};
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

}  // namespace

void Form1::cmdStart_Click() {
    try {
        const bool start = window_.ButtonCaption() == form1::kStartCaption;
        if (tickRunning_ && (start || watch_.deferredClicks > 0)) {
            // A Start handled in a tick's event pass would run a whole run inside the tick. It,
            // and every click after it, is taken once the tick has ended, in its order.
            ++watch_.deferredClicks;
            return;
        }
        if (!start) {
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
        RunActive(true);
        window_.Sleep(driven_app::kPauseBeforeOpeningMs);
        // On a locked screen the rest of the sequence waits for a tick after the unlock.
        TypeSequence(Sequence::Opening, 0);
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
    RunTick();
    TakeDeferredClicks();
}

void Form1::TakeDeferredClicks() {
    while (watch_.deferredClicks > 0) {
        --watch_.deferredClicks;
        cmdStart_Click();
    }
}

void Form1::RunTick() {
    tickRunning_ = true;
    // Reset on every way out, WindowClosed included.
    const struct TickEnd {
        bool& running;
        ~TickEnd() { running = false; }
    } tickEnd{tickRunning_};

    try {
        if (StopRequested) {
            window_.SetTimerEnabled(false);
            EndRun(journal::kStopped);
            return;
        }
        if (WaitsForUnlock())
            return;
        if (watch_.interrupted) {
            GoOnAfterUnlock();
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

// No key reaches any window while the screen is locked. The tick then leaves the watch folder
// and its counts alone, so that the run goes on after the unlock as if it had not been.
bool Form1::WaitsForUnlock() {
    if (window_.ScreenLocked()) {
        BeginLockWait(std::wstring(kLockSeenAtTickNote), true);
        return true;
    }
    EndLockWait();
    return false;
}

// The sequence that the lock cut short goes on at the key Windows refused.
void Form1::GoOnAfterUnlock() {
    const SequencePosition at = *std::exchange(watch_.interrupted, std::nullopt);
    if (at.sequence == Sequence::Opening) {
        TypeSequence(Sequence::Opening, at.step);
        window_.SetTimerEnabled(true);  // the first tick 15 s after the last key, as after Start
        return;
    }
    window_.SetTimerEnabled(false);
    HandOver(at);
}

void Form1::Form_SessionLock(bool) {
    // Windows' word alone is not taken: the input desktop decides with it.
    if (window_.ScreenLocked()) {
        BeginLockWait(std::wstring(kLockReportedNote), true);
    } else {
        EndLockWait();
    }
}

void Form1::Form_Unload(UnloadReason reason) {
    const bool windowsEnding = reason == UnloadReason::WindowsEnding;
    if (runJournaled_)
        EndRun(journal::kEnded, std::wstring(windowsEnding ? kWindowsEndingNote : kClosedNote));
    // Windows may end the process as soon as the handler returns.
    if (windowsEnding)
        journal_.Finish();
}

// The wait of a run, once: one row, and one log line unless a refused key has logged it already.
void Form1::BeginLockWait(std::wstring note, bool logIt) {
    if (!runJournaled_ || watch_.waitingForUnlock)
        return;
    watch_.waitingForUnlock = true;
    if (logIt) {
        log_.WriteErrorLog(kLockProcedure,
                           Failure(kScreenLockedNumber, std::wstring(kScreenLockedDescription)));
    }
    journal_.Write({.event = journal::kLocked, .patient = patientNumber_, .note = std::move(note)});
}

void Form1::EndLockWait() {
    if (!watch_.waitingForUnlock)
        return;
    watch_.waitingForUnlock = false;
    journal_.Write({.event = journal::kUnlocked, .patient = patientNumber_});
}

// From a Start that sets the caption to "Stop" until the run ends: the system and display stay
// awake, and Windows asked to end the session says why not yet.
void Form1::RunActive(bool active) {
    window_.KeepAwake(active);
    window_.BlockShutdown(active ? kShutdownReason : std::wstring_view{});
}

void Form1::EndRun(std::wstring_view event, std::wstring note) {
    RunActive(false);
    watch_.interrupted.reset();
    watch_.waitingForUnlock = false;
    handOverFolders_.clear();
    JournalRunEnd(event, std::move(note));
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
    handOverFolders_ = copiedFolders;
    HandOver({Sequence::PreDeletion, 0});
}

// The pre-deletion keys, the deletion and the next-patient keys, from where they stand. A locked
// screen cuts them short with the timer on: a tick after the unlock goes on at the refused key.
void Form1::HandOver(SequencePosition from) {
    try {
        if (StopRequested) {
            EndRun(journal::kStopped);  // the run ends here: the timer stays off
            return;
        }
        const HandOverMark mark(window_);
        if (from.sequence == Sequence::PreDeletion) {
            if (!TypeSequence(Sequence::PreDeletion, from.step)) {
                window_.SetTimerEnabled(true);
                return;
            }
            DeleteCopiedFolders(handOverFolders_);
            from = {Sequence::NextPatient, 0};
        }
        if (!TypeSequence(Sequence::NextPatient, from.step)) {
            window_.SetTimerEnabled(true);
            return;
        }
        handOverFolders_.clear();
        window_.SetTimerEnabled(true);
    } catch (const Failure& failure) {
        log_.WriteErrorLog(kNextPatientProcedure, failure);
        EndRun(journal::kAborted, FailureNote(failure));  // halted
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
    watch_.interrupted.reset();
    watch_.waitingForUnlock = false;
    wait_.Begin(clock_.NowMs());
    std::wstring note = std::wstring(form1::kCaption) + L' ' + version_;
    // Staff who find a Gesperrt row on Monday see here that the PC was set up to lock.
    if (const auto lockAfter = window_.ScreenLockAfterSeconds())
        note += L"; " + ScreenLockNote(*lockAfter);
    journal_.Write({.event = journal::kStart, .target = target, .note = std::move(note)});
}

// One Kopiert row per patient ID among the copied subfolders, then one Behalten row per subfolder
// left whole, or one Kein Export row when the tick copied none: an empty export hands over to the
// next patient as the copying does, and only this row shows it afterwards.
void Form1::JournalCopyingTick(const std::vector<CopiedFolder>& copiedFolders) {
    try {
        std::vector<journal::JournalRow> rows;
        std::vector<journal::JournalRow> keptRows;
        for (const CopiedFolder& folder : copiedFolders) {
            dicom::PatientFields patient = ReadPatient(folder);
            if (folder.IsHeld()) {
                keptRows.push_back(
                    journal::KeptRow(KeptNote(NameOf(folder.path), folder.view.deeperMatch),
                                     patient, folder.target, patientNumber_));
            }
            if (!folder.images.images.empty()) {
                journal::CountIntoPatientRow(rows, std::move(patient), folder.images, folder.target,
                                             patientNumber_);
            }
        }
        if (rows.empty() && keptRows.empty()) {
            journal_.Write({.event = journal::kNoExport,
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

// The Stopp or Abgebrochen row: written once for the run that the last Start row opened.
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

bool Form1::KelvorinX(std::wstring_view keys, bool wait, std::int16_t delay) {
    try {
        window_.SendKeys(ParseKeyString(keys), wait);
        window_.Sleep(delay);
        return true;
    } catch (const Failure& failure) {
        log_.WriteErrorLog(KeysProcedureText(keys, wait, delay), failure);
        return false;
    }
}

// Types the sequence from the step given. Answers false when the screen is locked, before the
// first key or at a key Windows refused: the run then waits, and the rest goes on from there.
bool Form1::TypeSequence(Sequence sequence, std::size_t from) {
    const std::span<const driven_app::KeyStep> steps = StepsOf(sequence);
    if (window_.ScreenLocked()) {
        watch_.interrupted = SequencePosition{sequence, from};
        BeginLockWait(std::wstring(kLockBeforeKeysNote), true);
        return false;
    }
    NoteFrontProgram(sequence == Sequence::Opening && from == 0);
    for (std::size_t step = from; step < steps.size(); ++step) {
        const driven_app::KeyStep& key = steps[step];
        if (key.IsPause()) {
            window_.Sleep(key.delayMs);
        } else if (watch_.waitingForUnlock && window_.ScreenLocked()) {
            // Windows reported the lock meanwhile: the key would only be refused and logged.
            watch_.interrupted = SequencePosition{sequence, step};
            return false;
        } else if (!KelvorinX(key.keys, key.wait, key.delayMs) && window_.ScreenLocked()) {
            // Its log line is the wait's one line: the rest of the keys would only add theirs.
            watch_.interrupted = SequencePosition{sequence, step};
            BeginLockWait(std::wstring(kRefusedKeyNote).append(key.keys), false);
            return false;
        }
    }
    return true;
}

// Where the keys go is wherever the focus is; a change of program is put on record.
void Form1::NoteFrontProgram(bool opening) {
    if (opening)
        watch_.focus.Reset();
    const ForegroundProgram front = window_.FrontProgram();
    if (watch_.focus.Changed(front.processId)) {
        journal_.Write(
            {.event = journal::kFocus, .patient = patientNumber_, .note = FocusNote(front)});
    }
}

}  // namespace ordovan
