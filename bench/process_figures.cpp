#include "bench/process_figures.h"

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "bench/bench_paths.h"
#include "bench/figure_report.h"
#include "bench/image_trees.h"
#include "bench/process_probe.h"
#include "tests/e2e/session.h"
#include "window/form1_design.h"

namespace ordovan::bench {

namespace {

namespace fs = std::filesystem;

constexpr double kBytesPerKib = 1024.0;
// The spinning helper runs longer than its measured stretch, which starts once it is up.
constexpr int kSpinMs = 3000;
constexpr DWORD kSpinSettleMs = 500;
constexpr DWORD kSpinWindowMs = 1000;
// The probe must see most of a busy core, or it cannot see another process's CPU at all.
constexpr double kSpinSeenShare = 0.5;
constexpr DWORD kChildSettleMs = 2000;
constexpr DWORD kChildEndMs = 5000;

constexpr wchar_t kToolCaption[] = L"Copy Ordovan";
constexpr int kPatients = 1;
constexpr int kLockDelayMs = 2000;
constexpr int kImagesOfOnePatient = 2 * 3;  // the session's 2 series of 3 images
constexpr std::size_t kOpeningKeys = 6;
constexpr std::size_t kKeysOfOnePatient = 15;  // the opening sequence and one hand-over
constexpr DWORD kOpeningTimeoutMs = 60000;
constexpr DWORD kHandOverTimeoutMs = 90000;
// The poll is switched on 1 s after the opening's last key; its first tick (which counts) comes
// 15 s later. The idle stretch starts a little after that tick.
constexpr DWORD kPollOnAfterLastKeyMs = 1000;
constexpr DWORD kAfterTickMs = 1500;
constexpr DWORD kPollSwitchedOnAgainMs = 1500;
constexpr DWORD kCloseTimeoutMs = 10000;
constexpr std::wstring_view kSessionFolder = L"Sitzung";

// The tool and the simulator work in the real watch folder, which on a practice PC holds exports
// not yet copied; under Wine it lies in the build folder's own prefix.
bool RunningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void CalibrateProbe() {
    ChildProcess child = StartSelf(L"spin --ms " + std::to_wstring(kSpinMs));
    ::Sleep(kSpinSettleMs);
    const double before = ThreadCpuMs(child.processId);
    ::Sleep(kSpinWindowMs);
    const double seen = ThreadCpuMs(child.processId) - before;
    EndChild(child, kChildEndMs);
    PrintValue("probe_spin_cpu_ms_per_s", seen * 1000.0 / kSpinWindowMs, "ms");
    if (seen < kSpinSeenShare * kSpinWindowMs)
        throw std::runtime_error("the CPU probe does not see another process's threads");
}

void MeasureBareWindow(int idleMs) {
    ChildProcess child = StartSelf(L"idle-window");
    ::Sleep(kChildSettleMs);
    const double before = ThreadCpuMs(child.processId);
    ::Sleep(static_cast<DWORD>(idleMs));
    const double idleCpuMs = ThreadCpuMs(child.processId) - before;
    const std::size_t peak = PeakWorkingSetBytes(child.process.get());
    EndChild(child, kChildEndMs);
    PrintValue("bare_window_idle_cpu_ms", idleCpuMs, "ms");
    PrintValue("bare_window_peak_ws_kib", static_cast<double>(peak) / kBytesPerKib, "KiB");
}

win32::UniqueKernelHandle OpenTool() {
    const HWND window = ::FindWindowW(nullptr, kToolCaption);
    DWORD processId = 0;
    if (window == nullptr || ::GetWindowThreadProcessId(window, &processId) == 0)
        throw std::runtime_error("CopyOrdovan.exe shows no window");
    win32::UniqueKernelHandle process(
        ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    if (!process)
        throw std::runtime_error("cannot open CopyOrdovan.exe's process");
    return process;
}

void Require(bool done, const e2e::Session& session, const std::string& what) {
    if (!done)
        throw std::runtime_error(what +
                                 (session.Problem().empty() ? "" : ": " + session.Problem()));
}

void MeasureTool(int idleMs) {
    e2e::Session session{e2e::SessionFolders{fs::path(BenchFolder(kSessionFolder))}};
    fs::create_directories(session.Folders().target());
    Require(session.StartSimulator(kPatients, kLockDelayMs), session, "simulator");
    Require(session.StartTool(session.Folders().target().wstring()), session, "tool");
    Require(session.WaitForPresses(kOpeningKeys, kOpeningTimeoutMs), session, "opening keys");
    const win32::UniqueKernelHandle tool = OpenTool();
    const DWORD toolId = ::GetProcessId(tool.get());

    ::Sleep(kPollOnAfterLastKeyMs + static_cast<DWORD>(form1::kPollIntervalMs) + kAfterTickMs);
    const double before = ThreadCpuMs(toolId);
    ::Sleep(static_cast<DWORD>(idleMs));
    const double idleCpuMs = ThreadCpuMs(toolId) - before;
    Require(session.KeyPresses().size() == kOpeningKeys, session,
            "a copying tick fell into the idle stretch");

    Require(session.WaitForPresses(kKeysOfOnePatient, kHandOverTimeoutMs), session,
            "hand-over keys");
    ::Sleep(kPollSwitchedOnAgainMs);
    const std::size_t peak = PeakWorkingSetBytes(tool.get());
    Require(CountFiles(session.Folders().target().wstring()) == kImagesOfOnePatient, session,
            "copies of the patient's images");
    Require(session.CloseTool(kCloseTimeoutMs), session, "closing the tool");

    PrintValue("tool_idle_cpu_ms", idleCpuMs, "ms");
    PrintValue("tool_peak_ws_kib", static_cast<double>(peak) / kBytesPerKib, "KiB");
}

}  // namespace

void RunProcessFigures(int idleMs) {
    if (!RunningUnderWine()) {
        std::printf(
            "# process figures skipped: they drive CopyOrdovan.exe in the real watch "
            "folder, which is only the bench's own under Wine\n");
        return;
    }
    PrintValue("idle_stretch_ms", idleMs, "ms");
    CalibrateProbe();
    MeasureBareWindow(idleMs);
    MeasureTool(idleMs);
}

}  // namespace ordovan::bench
