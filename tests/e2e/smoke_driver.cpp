#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/e2e/session.h"
#include "tests/launch.h"
#include "window/form1_design.h"

// The release's smoke test (scripts/release): starts CopyOrdovan.exe where the zip was unpacked,
// as a user would, and checks what a user sees first: the window appears, Start with an empty
// target shows its message and starts nothing, and closing the window ends the program cleanly.
// Usage: smoke_driver C:\path\to\CopyOrdovan.exe
namespace {

namespace fs = std::filesystem;
using ordovan::e2e::WaitUntil;

constexpr DWORD kMessageTimeoutMs = 10000;
constexpr DWORD kEndTimeoutMs = 10000;
constexpr int kTextLength = 64;

std::wstring Text(HWND window) {
    wchar_t text[kTextLength] = {};
    ::GetWindowTextW(window, text, kTextLength);
    return text;
}

// The message box the tool's own process shows with this title.
HWND WaitForMessage(DWORD processId, const wchar_t* title) {
    HWND box = nullptr;
    WaitUntil(
        [&] {
            box = ::FindWindowW(L"#32770", title);
            DWORD owner = 0;
            if (box != nullptr)
                ::GetWindowThreadProcessId(box, &owner);
            return box != nullptr && owner == processId && ::IsWindowVisible(box);
        },
        kMessageTimeoutMs);
    return box;
}

class Smoke {
  public:
    explicit Smoke(fs::path exe) : exe_(std::move(exe)) {}
    ~Smoke() {
        if (tool_ && ::WaitForSingleObject(tool_.process.get(), 0) == WAIT_TIMEOUT)
            ::TerminateProcess(tool_.process.get(), 1);
    }
    Smoke(const Smoke&) = delete;
    Smoke& operator=(const Smoke&) = delete;

    bool Run() {
        return Start() && EmptyTargetShowsItsMessage() && CloseEndsTheProgram() && NothingLogged();
    }

  private:
    static bool Fail(const char* what) {
        std::printf("  FAILED: %s\n", what);
        return false;
    }
    static void Passed(const std::string& what) { std::printf("  ok: %s\n", what.c_str()); }

    bool Start() {
        tool_ = ordovan::test::Launch(exe_, L"", exe_.parent_path());
        if (!tool_)
            return Fail("CopyOrdovan.exe cannot be started");
        const std::wstring caption(ordovan::form1::kCaption);
        window_ = ordovan::e2e::WaitForWindow(caption.c_str());
        if (window_ == nullptr)
            return Fail("no window \"Copy Ordovan\" within 10 s");
        Passed("the window \"Copy Ordovan\" appeared");
        return true;
    }

    bool EmptyTargetShowsItsMessage() {
        const HWND targetBox = ::FindWindowExW(window_, nullptr, L"Edit", nullptr);
        const HWND button = ::FindWindowExW(window_, nullptr, L"Button", nullptr);
        if (targetBox == nullptr || button == nullptr)
            return Fail("the target box or the button is missing");
        ::SendMessageW(targetBox, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
        ::PostMessageW(button, BM_CLICK, 0, 0);
        const std::wstring title(ordovan::form1::kMessageTitle);
        const std::wstring text(ordovan::form1::kEmptyTargetMessage);
        const HWND box = WaitForMessage(tool_.processId, title.c_str());
        if (box == nullptr)
            return Fail("Start with an empty target showed no message within 10 s");
        if (::FindWindowExW(box, nullptr, L"Static", text.c_str()) == nullptr)
            return Fail("the message does not read \"Bitte geben Sie ein Ziel ein\"");
        ::PostMessageW(box, WM_COMMAND, IDOK, 0);
        if (!WaitUntil([&] { return !::IsWindow(box); }, kMessageTimeoutMs))
            return Fail("the message did not close on OK");
        if (Text(button) != ordovan::form1::kStartCaption)
            return Fail("Start with an empty target started a run");
        Passed(
            "Start with an empty target showed \"Bitte geben Sie ein Ziel ein\" and started "
            "nothing");
        return true;
    }

    bool CloseEndsTheProgram() {
        ::PostMessageW(window_, WM_CLOSE, 0, 0);
        if (::WaitForSingleObject(tool_.process.get(), kEndTimeoutMs) != WAIT_OBJECT_0)
            return Fail("the program did not end within 10 s of closing its window");
        DWORD code = 1;
        ::GetExitCodeProcess(tool_.process.get(), &code);
        if (code != 0)
            return Fail("the program ended with a failure code");
        Passed("closing the window ended the program with code 0");
        return true;
    }

    bool NothingLogged() const {
        if (fs::exists(exe_.parent_path() / L"Logs" / L"ErrorLog.log"))
            return Fail("the error log has lines");
        Passed("no error log beside the program");
        return true;
    }

    fs::path exe_;
    ordovan::test::Launched tool_;
    HWND window_ = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("usage: smoke_driver C:\\path\\to\\CopyOrdovan.exe\n");
        return 2;
    }
    std::printf("Smoke test of %s\n", argv[1]);
    const bool passed = Smoke(argv[1]).Run();
    std::printf("Smoke test %s\n", passed ? "passed" : "FAILED");
    return passed ? 0 : 1;
}
