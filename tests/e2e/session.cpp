#include "tests/e2e/session.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/launch.h"
#include "tests/wine_only.h"

namespace ordovan::e2e {

namespace fs = std::filesystem;

namespace {

const fs::path kWatchFolder = L"C:\\Programme\\Ordovan\\Temp\\PACS";
constexpr wchar_t kSimulatorTitle[] = L"Ordovan Simulator";
constexpr wchar_t kToolCaption[] = L"Copy Ordovan";
constexpr DWORD kWindowTimeoutMs = 10000;
// Start's pause before the first key is 4 s: the focus goes back to the simulator well before.
constexpr DWORD kFocusAfterStartMs = 1000;
// How long the tool may take to answer a message sent to its window.
constexpr UINT kAnswerTimeoutMs = 2000;

// A Unix path handed over by the build becomes a path on Wine's Z: drive.
fs::path FromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr)
        return {};
    std::wstring path = L"Z:";
    for (const char* c = value; *c != '\0'; ++c)
        path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return path;
}

bool IsModifier(int vk) {
    return vk == VK_SHIFT || vk == VK_CONTROL || vk == VK_MENU ||
           (vk >= VK_LSHIFT && vk <= VK_RMENU);
}

}  // namespace

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (!done()) {
        if (::GetTickCount64() > deadline)
            return false;
        ::Sleep(100);
    }
    return true;
}

// Visible, not merely there: a window can be found from the moment it is created, while it is
// still creating its controls, and is shown only once it has them.
HWND WaitForWindow(const wchar_t* title) {
    HWND window = nullptr;
    const bool shown = WaitUntil(
        [&] {
            window = ::FindWindowW(nullptr, title);
            return window != nullptr && ::IsWindowVisible(window);
        },
        kWindowTimeoutMs);
    return shown ? window : nullptr;
}

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

Session::Session(SessionFolders folders)
    : folders_(std::move(folders)),
      underWine_(test::RunsUnderWine()),
      tool_(FromEnvironment("ORDOVAN_TOOL")),
      simulator_(FromEnvironment("ORDOVAN_SIMULATOR")) {
    if (!underWine_)
        return;
    std::error_code ignored;
    fs::remove_all(folders_.work, ignored);
    fs::remove_all(kWatchFolder, ignored);
    fs::create_directories(folders_.toolFolder());
    fs::create_directories(folders_.reference());
    // The tool keeps its error log beside itself: it runs from a folder of its own.
    if (!tool_.empty())
        fs::copy_file(tool_, folders_.toolFolder() / L"CopyOrdovan.exe", ignored);
}

Session::~Session() {
    for (win32::UniqueKernelHandle* process : {&toolProcess_, &simulatorProcess_}) {
        if (*process && ::WaitForSingleObject(process->get(), 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(process->get(), 1);
            ::WaitForSingleObject(process->get(), kWindowTimeoutMs);
        }
    }
}

bool Session::Fail(std::string problem) {
    problem_ = std::move(problem);
    return false;
}

bool Session::StartSimulator(int patients, int lockDelayMs) {
    if (!underWine_)
        return Fail(test::kWineOnlyReason);
    if (simulator_.empty())
        return Fail("ORDOVAN_SIMULATOR is not set");
    const std::wstring arguments =
        L"--log \"" + folders_.simulatorLog().wstring() + L"\" --patients " +
        std::to_wstring(patients) + L" --series 2 --images 3 --lock-delay " +
        std::to_wstring(lockDelayMs) + L" --reference \"" + folders_.reference().wstring() + L"\"";
    simulatorProcess_ = test::Launch(simulator_, arguments, simulator_.parent_path()).process;
    if (!simulatorProcess_)
        return Fail("cannot start the simulator");
    simulatorWindow_ = WaitForWindow(kSimulatorTitle);
    return simulatorWindow_ != nullptr || Fail("the simulator shows no window");
}

bool Session::StartTool(const std::wstring& target) {
    if (!underWine_)
        return Fail(test::kWineOnlyReason);
    if (tool_.empty())
        return Fail("ORDOVAN_TOOL is not set");
    const fs::path toolExe = folders_.toolFolder() / L"CopyOrdovan.exe";
    toolProcess_ = test::Launch(toolExe, L"", toolExe.parent_path()).process;
    if (!toolProcess_)
        return Fail("cannot start CopyOrdovan.exe");
    toolWindow_ = WaitForWindow(kToolCaption);
    if (toolWindow_ == nullptr)
        return Fail("CopyOrdovan.exe shows no window");
    targetBox_ = ::FindWindowExW(toolWindow_, nullptr, L"Edit", nullptr);
    button_ = ::FindWindowExW(toolWindow_, nullptr, L"Button", nullptr);
    if (targetBox_ == nullptr || button_ == nullptr)
        return Fail("the target box or the button is missing");
    ::SendMessageW(targetBox_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(target.c_str()));
    if (!PressButton())
        return false;
    ::Sleep(kFocusAfterStartMs);
    FocusSimulator();
    return WaitUntil([this] { return ::GetForegroundWindow() == simulatorWindow_; }, 2000) ||
           Fail("the simulator did not get the focus back");
}

bool Session::PressButton() {
    return ::PostMessageW(button_, BM_CLICK, 0, 0) || Fail("cannot press the button");
}

bool Session::CloseTool(DWORD timeoutMs) {
    ::PostMessageW(toolWindow_, WM_CLOSE, 0, 0);
    return ToolHasEnded(timeoutMs) || Fail("CopyOrdovan.exe did not end after WM_CLOSE");
}

bool Session::ClickCloseButton() {
    return ClickFramePart(HTCLOSE, true);
}

bool Session::ClickTitleBar() {
    return ClickFramePart(HTCAPTION, false);
}

bool Session::ClickFramePart(LRESULT part, bool fromTheRight) {
    // Hit-test along the caption, as Windows does for a click; the tool answers the sent hit
    // test even in the middle of a pause.
    RECT frame{};
    ::GetWindowRect(toolWindow_, &frame);
    const int y = frame.top + ::GetSystemMetrics(SM_CYFRAME) + ::GetSystemMetrics(SM_CYCAPTION) / 2;
    const int step = fromTheRight ? -1 : 1;
    // The title bar is clicked in its middle, clear of the buttons and the icon.
    const int first = fromTheRight ? frame.right - 1 : (frame.left + frame.right) / 2;
    for (int x = first; x > frame.left && x < frame.right; x += step) {
        DWORD_PTR hit = HTNOWHERE;
        ::SendMessageTimeoutW(toolWindow_, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG,
                              kAnswerTimeoutMs, &hit);
        if (static_cast<LRESULT>(hit) != part)
            continue;
        // Wine moves its cursor through the X server: click once it stands there.
        const POINT target{fromTheRight ? x - 4 : x, y};
        WaitUntil(
            [&] {
                ::SetCursorPos(target.x, target.y);
                POINT now{};
                return ::GetCursorPos(&now) && now.x == target.x && now.y == target.y;
            },
            2000);
        INPUT events[2]{};
        events[0].type = events[1].type = INPUT_MOUSE;
        events[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
        events[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
        return ::SendInput(2, events, sizeof(INPUT)) == 2 || Fail("cannot click");
    }
    return Fail("the tool's frame has no such part");
}

bool Session::TypeAltF4() {
    ::SetForegroundWindow(toolWindow_);
    if (!WaitUntil([this] { return ::GetForegroundWindow() == toolWindow_; }, 2000))
        return Fail("the tool did not get the focus");
    INPUT keys[4]{};
    const WORD order[4] = {VK_MENU, VK_F4, VK_F4, VK_MENU};
    for (int i = 0; i < 4; ++i) {
        keys[i].type = INPUT_KEYBOARD;
        keys[i].ki.wVk = order[i];
        keys[i].ki.dwFlags = i < 2 ? 0 : KEYEVENTF_KEYUP;
    }
    return ::SendInput(4, keys, sizeof(INPUT)) == 4 || Fail("cannot type Alt+F4");
}

std::wstring Session::ButtonCaption() const {
    wchar_t caption[32] = {};
    ::SendMessageTimeoutW(button_, WM_GETTEXT, 32, reinterpret_cast<LPARAM>(caption),
                          SMTO_ABORTIFHUNG, kAnswerTimeoutMs, nullptr);
    return caption;
}

bool Session::ToolHasEnded(DWORD timeoutMs) const {
    return ::WaitForSingleObject(toolProcess_.get(), timeoutMs) == WAIT_OBJECT_0;
}

void Session::FocusSimulator() const {
    ::SetForegroundWindow(simulatorWindow_);
}

std::vector<std::string> Session::SimulatorLog() const {
    std::ifstream in(folders_.simulatorLog());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// Lines "<ms> key <down|up> <vk> <ext> <shift> <ctrl> <alt>".
std::vector<KeyPress> Session::KeyPresses() const {
    std::vector<KeyPress> presses;
    for (const std::string& line : SimulatorLog()) {
        std::istringstream fields(line);
        KeyPress key{};
        std::string kind, direction;
        int ext = 0, shift = 0, control = 0, alt = 0;
        if (!(fields >> key.ms >> kind) || kind != "key")
            continue;
        fields >> direction >> key.vk >> ext >> shift >> control >> alt;
        key.extended = ext != 0;
        key.shift = shift != 0;
        key.control = control != 0;
        key.alt = alt != 0;
        if (direction == "down" && !IsModifier(key.vk))
            presses.push_back(key);
    }
    return presses;
}

bool Session::WaitForPresses(std::size_t count, DWORD timeoutMs) const {
    return WaitUntil([&] { return KeyPresses().size() >= count; }, timeoutMs);
}

}  // namespace ordovan::e2e
