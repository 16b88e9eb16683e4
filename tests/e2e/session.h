#pragma once

#include <windows.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/win32/handles.h"

// One run of CopyOrdovan.exe against the simulated imaging application, each in its own process
// under Wine, steered through the real controls as a user would. Shared by the end-to-end tests
// and the demo.
namespace ordovan::e2e {

struct KeyPress {
    double ms;  // on the simulator's clock
    int vk;
    bool extended, shift, control, alt;
};

struct SessionFolders {
    std::filesystem::path work;  // removed and made anew by the session
    std::filesystem::path toolFolder() const { return work / L"Programm"; }
    std::filesystem::path target() const { return work / L"Ziel"; }
    std::filesystem::path reference() const { return work / L"Referenz"; }
    std::filesystem::path simulatorLog() const { return work / L"simulator.log"; }
    std::filesystem::path errorLog() const { return toolFolder() / L"Logs" / L"ErrorLog.log"; }
    std::filesystem::path journal() const {
        return toolFolder() / L"Logs" / L"Exportprotokoll.csv";
    }
};

// Polls every 100 ms until done() or the timeout; answers whether done() came true.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs);
// The shown top-level window with this title, or null when none is shown within 10 seconds.
HWND WaitForWindow(const wchar_t* title);
std::string ReadBytes(const std::filesystem::path& path);

class Session {
  public:
    // Programs come from the environment (ORDOVAN_TOOL, ORDOVAN_SIMULATOR: Unix paths).
    // Outside Wine it touches no folder and starts nothing: every Start answers false.
    explicit Session(SessionFolders folders);
    ~Session();  // ends both processes if they still run
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const SessionFolders& Folders() const { return folders_; }

    // Each answers false, with a reason in Problem(), when it could not do its part.
    bool StartSimulator(int patients, int lockDelayMs);
    // Starts the tool from its own folder, types the target into the box and presses Start, then
    // hands the keyboard focus back to the simulator before the first key comes.
    bool StartTool(const std::wstring& target);
    bool PressButton();
    bool CloseTool(DWORD timeoutMs);
    // Closes the tool as a user does, with real input: a click on its frame's close button, or
    // Alt+F4 once its window has the focus. Answers false when the input could not be given.
    bool ClickCloseButton();
    // A click (press and release) on the middle of the tool's title bar.
    bool ClickTitleBar();
    bool TypeAltF4();
    const std::string& Problem() const { return problem_; }

    std::wstring ButtonCaption() const;
    bool ToolHasEnded(DWORD timeoutMs) const;
    void FocusSimulator() const;

    // The key presses the simulator received, modifiers left out (their state is on each press).
    std::vector<KeyPress> KeyPresses() const;
    bool WaitForPresses(std::size_t count, DWORD timeoutMs) const;
    std::vector<std::string> SimulatorLog() const;

  private:
    bool Fail(std::string problem);
    bool ClickFramePart(LRESULT part, bool fromTheRight);

    SessionFolders folders_;
    bool underWine_;
    std::filesystem::path tool_, simulator_;
    win32::UniqueKernelHandle toolProcess_, simulatorProcess_;
    HWND simulatorWindow_ = nullptr, toolWindow_ = nullptr, targetBox_ = nullptr, button_ = nullptr;
    std::string problem_;
};

}  // namespace ordovan::e2e
