#include "window/form1.h"

#include <algorithm>
#include <limits>
#include <string>

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
        const std::wstring target = window_.TargetText();
        if (target.empty()) {
            window_.ShowMessage(form1::kEmptyTargetMessage, form1::kMessageTitle);
            return;
        }
        if (target.back() != L'\\')
            window_.SetTargetText(target + L'\\');
        window_.SetButtonCaption(form1::kStopCaption);
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
        copied.push_back(
            {subfolder, files_.CopyFile(InFolder(subfolder, driven_app::kImagePattern),
                                        window_.TargetText(), true, [this] { StayAlive(); })});
    }
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
            return;
        }
        SendKeySequence(driven_app::kPreDeletionKeys);
        DeleteCopiedFolders(copiedFolders);
        SendKeySequence(driven_app::kNextPatientSequence);
        window_.SetTimerEnabled(true);
    } catch (const Failure& failure) {
        log_.WriteErrorLog(kNextPatientProcedure, failure);
        window_.KeepAwake(false);  // halted
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
