#include "simulator/key_log.h"

#include <cstdio>

#include "platform/win32/last_error.h"

namespace ordovan::simulator {
namespace {

constexpr std::size_t kRecentLines = 10;
constexpr int kExtendedKeyBit = 24;
constexpr SHORT kKeyDownBit = static_cast<SHORT>(0x8000);

char Held(int virtualKey) {
    return (::GetKeyState(virtualKey) & kKeyDownBit) != 0 ? '1' : '0';
}

win32::UniqueFile OpenForAppending(std::wstring_view path) {
    if (path.empty())
        return {};
    // Readers may open the log while we write it.
    win32::UniqueFile file(::CreateFileW(std::wstring(path).c_str(), FILE_APPEND_DATA,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        win32::ThrowLastError();
    return file;
}

}  // namespace

EventLog::EventLog(std::wstring_view path) : file_(OpenForAppending(path)) {
    ::QueryPerformanceFrequency(&frequency_);
    ::QueryPerformanceCounter(&start_);
}

std::string EventLog::Timestamp() const {
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    const double ms = static_cast<double>(now.QuadPart - start_.QuadPart) * 1000.0 /
                      static_cast<double>(frequency_.QuadPart);
    char text[32];
    std::snprintf(text, sizeof(text), "%.3f", ms);
    return text;
}

void EventLog::Write(std::string_view event) {
    const std::string line = Timestamp() + " " + std::string(event);
    recent_.push_back(line);
    if (recent_.size() > kRecentLines)
        recent_.pop_front();
    if (!file_)
        return;
    const std::string record = line + "\r\n";
    DWORD written = 0;
    // Not flushed to the disk: a reader sees what WriteFile wrote at once, and a killed simulator
    // loses nothing by it. A flush waits for the disk, and right after a build the disk may take
    // a second to write back what the build left; a key arriving meanwhile would wait too and be
    // logged late.
    if (!::WriteFile(file_.get(), record.data(), static_cast<DWORD>(record.size()), &written,
                     nullptr)) {
        win32::ThrowLastError();
    }
}

std::string KeyEvent(UINT message, WPARAM virtualKey, LPARAM flags) {
    const bool down = message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
    const auto extended = (static_cast<unsigned long long>(flags) >> kExtendedKeyBit) & 1U;
    return std::string("key ") + (down ? "down " : "up ") + std::to_string(virtualKey) + ' ' +
           std::to_string(extended) + ' ' + Held(VK_SHIFT) + ' ' + Held(VK_CONTROL) + ' ' +
           Held(VK_MENU);
}

}  // namespace ordovan::simulator
