#include "window/form1.h"

#include <string>

#include "platform/key_notation.h"
#include "window/form1_design.h"

namespace ordovan {

namespace {

constexpr std::wstring_view kStartProcedure = L"cmdStart_Click";
constexpr std::wstring_view kTimerProcedure = L"tmrCheck_Timer";
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
        window_.Sleep(driven_app::kPauseBeforeOpeningMs);
        SendKeySequence(driven_app::kOpeningSequence);
        window_.SetTimerEnabled(true);
    } catch (const Failure& failure) {
        log_.WriteErrorLog(kStartProcedure, failure);
    }
}

void Form1::tmrCheck_Timer() {
    try {
        if (StopRequested) {
            window_.SetTimerEnabled(false);
            return;
        }
    } catch (const Failure& failure) {
        log_.WriteErrorLog(kTimerProcedure, failure);
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
