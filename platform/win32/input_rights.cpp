#include "platform/win32/input_rights.h"

#include <vector>

#include "platform/win32/handles.h"

namespace ordovan::win32 {

namespace {

// Posted only to ask Windows whether UIPI lets our messages through; no window handles it.
constexpr wchar_t kRightsProbeMessage[] = L"CopyOrdovan.InputRightsProbe";

// The mandatory integrity level's RID (SECURITY_MANDATORY_MEDIUM_RID and so on) of a token.
std::optional<DWORD> IntegrityLevel(HANDLE process) {
    HANDLE rawToken = nullptr;
    if (!::OpenProcessToken(process, TOKEN_QUERY, &rawToken))
        return std::nullopt;
    const UniqueKernelHandle token(rawToken);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenIntegrityLevel, nullptr, 0, &size);
    if (size < sizeof(TOKEN_MANDATORY_LABEL))
        return std::nullopt;
    std::vector<BYTE> buffer(size);
    if (!::GetTokenInformation(token.get(), TokenIntegrityLevel, buffer.data(), size, &size))
        return std::nullopt;
    const PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(buffer.data())->Label.Sid;
    const UCHAR parts = *::GetSidSubAuthorityCount(sid);
    if (parts == 0)
        return std::nullopt;
    return *::GetSidSubAuthority(sid, parts - 1u);
}

DWORD PostError(HWND window) {
    static const UINT probe = ::RegisterWindowMessageW(kRightsProbeMessage);
    if (probe == 0)
        return ::GetLastError();
    return ::PostMessageW(window, probe, 0, 0) ? ERROR_SUCCESS : ::GetLastError();
}

class TokenInputRights final : public InputRights {
  public:
    bool Outranks(HWND window) override {
        DWORD processId = 0;
        ::GetWindowThreadProcessId(window, &processId);
        if (processId == ::GetCurrentProcessId())
            return false;
        const UniqueKernelHandle process(
            ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
        return InputWouldBeDropped(process ? IntegrityLevel(process.get()) : std::nullopt,
                                   IntegrityLevel(::GetCurrentProcess()),
                                   [window] { return PostError(window); });
    }
};

}  // namespace

bool InputWouldBeDropped(std::optional<DWORD> theirLevel, std::optional<DWORD> ourLevel,
                         const std::function<DWORD()>& postError) {
    if (theirLevel && ourLevel)
        return *theirLevel > *ourLevel;
    return postError() == ERROR_ACCESS_DENIED;
}

InputRights& SystemInputRights() {
    static TokenInputRights rights;
    return rights;
}

}  // namespace ordovan::win32
