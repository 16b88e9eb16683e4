#include "platform/local_time_text.h"

#include <windows.h>

#include <cwchar>
#include <iterator>

#include "platform/win32/last_error.h"

namespace ordovan {

namespace {

// GetDateFormatEx and GetTimeFormatEx share this shape: asked with no buffer they tell the length
// they need, terminating null included.
template <typename FormatFunction>
std::wstring FormatNow(FormatFunction format) {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    const int length = format(now, nullptr, 0);
    if (length == 0)
        win32::ThrowLastError();
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    const int written = format(now, text.data(), length);
    if (written == 0)
        win32::ThrowLastError();
    text.resize(static_cast<std::size_t>(written - 1));
    return text;
}

}  // namespace

std::wstring CurrentDateText() {
    return FormatNow([](const SYSTEMTIME& now, wchar_t* buffer, int size) {
        return ::GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &now, nullptr, buffer,
                                 size, nullptr);
    });
}

std::wstring CurrentTimeText() {
    return FormatNow([](const SYSTEMTIME& now, wchar_t* buffer, int size) {
        return ::GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &now, nullptr, buffer, size);
    });
}

std::wstring CurrentFileNameTimeText() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    wchar_t text[32]{};
    std::swprintf(text, std::size(text), L"%04u-%02u-%02u %02u-%02u-%02u", unsigned{now.wYear},
                  unsigned{now.wMonth}, unsigned{now.wDay}, unsigned{now.wHour},
                  unsigned{now.wMinute}, unsigned{now.wSecond});
    return text;
}

}  // namespace ordovan
