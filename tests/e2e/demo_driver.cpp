#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/e2e/session.h"

// The demo: one patient exported from the simulated imaging application, then a short summary
// of what the tool typed, copied and logged.
namespace {

namespace fs = std::filesystem;
using ordovan::e2e::KeyPress;

constexpr int kPatients = 1;
constexpr int kLockDelayMs = 2000;
// The opening sequence and one hand-over: 6 + 9 keys, done about 70 s after Start.
constexpr std::size_t kKeysOfOnePatient = 15;
constexpr DWORD kRunTimeoutMs = 120000;

std::string KeyName(const KeyPress& key) {
    std::string name;
    if (key.control)
        name += "Strg+";
    if (key.alt)
        name += "Alt+";
    if (key.shift)
        name += "Umschalt+";
    switch (key.vk) {
        case VK_F2:
            return name + "F2";
        case VK_TAB:
            return name + "Tab";
        case VK_RETURN:
            return name + "Enter";
        case VK_HOME:
            return name + "Pos1";
        case VK_END:
            return name + "Ende";
        case VK_DOWN:
            return name + "Pfeil unten";
        default:
            return name + static_cast<char>(key.vk);
    }
}

}  // namespace

int main() {
    ordovan::e2e::Session session{ordovan::e2e::SessionFolders{L"C:\\OrdovanDemo"}};
    fs::create_directories(session.Folders().target());
    std::printf("Copy Ordovan demo: one patient from the simulated imaging application\n");
    std::fflush(stdout);
    if (!session.StartSimulator(kPatients, kLockDelayMs) ||
        !session.StartTool(session.Folders().target().wstring())) {
        std::printf("failed: %s\n", session.Problem().c_str());
        return 1;
    }
    const bool complete = session.WaitForPresses(kKeysOfOnePatient, kRunTimeoutMs);
    ::Sleep(1500);
    session.CloseTool(10000);

    std::printf("\nKeys typed (seconds after the first):\n");
    const auto presses = session.KeyPresses();
    for (const KeyPress& key : presses) {
        std::printf("  %7.3f  %s\n", (key.ms - presses.front().ms) / 1000.0, KeyName(key).c_str());
    }
    std::printf("\nFiles copied to %ls:\n", session.Folders().target().c_str());
    int files = 0;
    for (const auto& entry : fs::directory_iterator(session.Folders().target())) {
        std::printf("  %ls (%ju bytes)\n", entry.path().filename().c_str(),
                    static_cast<std::uintmax_t>(entry.file_size()));
        ++files;
    }
    const std::string log = ordovan::e2e::ReadBytes(session.Folders().errorLog());
    std::printf("\nError log lines: %s\n%s", log.empty() ? "none" : "", log.c_str());
    std::string journal = ordovan::e2e::ReadBytes(session.Folders().journal());
    journal.erase(0, journal.find('\n') + 1);  // the byte order mark and the header
    std::erase(journal, '\r');
    std::printf("\nExport journal rows:\n%s", journal.empty() ? "none\n" : journal.c_str());
    std::printf("\n%s: %zu keys, %d files\n", complete ? "done" : "INCOMPLETE", presses.size(),
                files);
    return complete ? 0 : 1;
}
