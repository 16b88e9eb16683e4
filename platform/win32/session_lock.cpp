#include "platform/win32/session_lock.h"

#include <wtsapi32.h>

#include <string>

#include "platform/win32/handles.h"

namespace ordovan::win32 {

namespace {

// A desktop's name, empty when it cannot be read.
std::wstring DesktopName(HDESK desktop) {
    DWORD bytes = 0;
    ::GetUserObjectInformationW(desktop, UOI_NAME, nullptr, 0, &bytes);
    std::wstring name(bytes / sizeof(wchar_t), L'\0');
    if (name.empty() ||
        !::GetUserObjectInformationW(desktop, UOI_NAME, name.data(), bytes, &bytes)) {
        return {};
    }
    name.resize(name.find(L'\0') == std::wstring::npos ? name.size() : name.find(L'\0'));
    return name;
}

}  // namespace

bool RegisterSessionNotifications(HWND window) {
    return ::WTSRegisterSessionNotification(window, NOTIFY_FOR_THIS_SESSION) != FALSE;
}

void UnregisterSessionNotifications(HWND window) {
    ::WTSUnRegisterSessionNotification(window);
}

std::optional<bool> SessionLockChange(WPARAM change) {
    if (change == WTS_SESSION_LOCK)
        return true;
    if (change == WTS_SESSION_UNLOCK)
        return false;
    return std::nullopt;
}

bool InputDesktopIsOurs() {
    // The lock screen's desktop cannot be opened by the user's programs at all.
    const UniqueDesktop input(::OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS));
    if (!input)
        return false;
    const std::wstring name = DesktopName(input.get());
    return !name.empty() && name == DesktopName(::GetThreadDesktop(::GetCurrentThreadId()));
}

}  // namespace ordovan::win32
