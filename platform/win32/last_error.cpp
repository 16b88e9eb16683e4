#include "platform/win32/last_error.h"

namespace ordovan::win32 {

std::wstring DescribeError(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT),
        reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text(buffer != nullptr ? buffer : L"", length);
    ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
        text.pop_back();
    }
    return text;
}

Failure ErrorFailure(DWORD error) {
    return Failure(static_cast<std::int32_t>(error), DescribeError(error));
}

void ThrowLastError() {
    const DWORD error = ::GetLastError();
    throw ErrorFailure(error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE);
}

}  // namespace ordovan::win32
