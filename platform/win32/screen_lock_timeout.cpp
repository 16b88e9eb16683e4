#include "platform/win32/screen_lock_timeout.h"

#include <algorithm>

#include "platform/win32/handles.h"

namespace ordovan::win32 {

namespace {

// "Interactive logon: Machine inactivity limit", a security policy of the machine.
constexpr wchar_t kPolicyKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr wchar_t kInactivityValue[] = L"InactivityTimeoutSecs";

bool SystemFlag(UINT action) {
    BOOL flag = FALSE;
    return ::SystemParametersInfoW(action, 0, &flag, 0) && flag;
}

DWORD InactivityLimitSeconds() {
    HKEY raw = nullptr;
    // The 64-bit view on 64-bit Windows: the policy is not kept under WOW6432Node.
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                        &raw) != ERROR_SUCCESS) {
        return 0;
    }
    const UniqueRegistryKey key(raw);
    DWORD seconds = 0;
    DWORD size = sizeof(seconds);
    DWORD type = 0;
    if (::RegQueryValueExW(key.get(), kInactivityValue, nullptr, &type,
                           reinterpret_cast<BYTE*>(&seconds), &size) != ERROR_SUCCESS ||
        type != REG_DWORD) {
        return 0;
    }
    return seconds;
}

}  // namespace

std::optional<std::int32_t> EarliestIdleLock(const IdleLockSettings& settings) {
    std::optional<DWORD> earliest;
    if (settings.screenSaverActive && settings.screenSaverSecure && settings.screenSaverSeconds > 0)
        earliest = settings.screenSaverSeconds;
    if (settings.inactivityLimitSeconds > 0)
        earliest = std::min(earliest.value_or(settings.inactivityLimitSeconds),
                            settings.inactivityLimitSeconds);
    if (!earliest)
        return std::nullopt;
    return static_cast<std::int32_t>(std::min<DWORD>(*earliest, INT32_MAX));
}

IdleLockSettings CurrentIdleLockSettings() {
    IdleLockSettings settings;
    settings.screenSaverActive = SystemFlag(SPI_GETSCREENSAVEACTIVE);
    settings.screenSaverSecure = SystemFlag(SPI_GETSCREENSAVESECURE);
    UINT seconds = 0;
    if (::SystemParametersInfoW(SPI_GETSCREENSAVETIMEOUT, 0, &seconds, 0))
        settings.screenSaverSeconds = seconds;
    settings.inactivityLimitSeconds = InactivityLimitSeconds();
    return settings;
}

}  // namespace ordovan::win32
