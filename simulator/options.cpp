#include "simulator/options.h"

#include <shellapi.h>

#include <memory>

#include "platform/failure.h"
#include "platform/win32/last_error.h"

namespace ordovan::simulator {
namespace {

// Large enough for any test, small enough that file names and UIDs stay short.
constexpr long kMaxCount = 99999;

struct LocalFreeDeleter {
    void operator()(LPWSTR* arguments) const noexcept { ::LocalFree(arguments); }
};

[[noreturn]] void ThrowInvalid(const std::wstring& what) {
    throw Failure(static_cast<std::int32_t>(ERROR_INVALID_PARAMETER), L"Invalid option: " + what);
}

long ParseCount(const std::wstring& name, const std::wstring& text) {
    std::size_t used = 0;
    long value = -1;
    try {
        value = std::stol(text, &used);
    } catch (const std::exception&) {
        ThrowInvalid(name + L" " + text);
    }
    if (used != text.size() || value < 0 || value > kMaxCount)
        ThrowInvalid(name + L" " + text);
    return value;
}

void SetOption(Options& options, const std::wstring& name, const std::wstring& value) {
    if (name == L"--log")
        options.logPath = value;
    else if (name == L"--watch")
        options.watchFolder = value;
    else if (name == L"--patients")
        options.patients = static_cast<int>(ParseCount(name, value));
    else if (name == L"--series")
        options.seriesPerPatient = static_cast<int>(ParseCount(name, value));
    else if (name == L"--images")
        options.imagesPerSeries = static_cast<int>(ParseCount(name, value));
    else if (name == L"--lock-delay")
        options.lockDelayMs = static_cast<UINT>(ParseCount(name, value));
    else if (name == L"--reference")
        options.referenceFolder = value;
    else if (name == L"--title")
        options.title = value;
    else
        ThrowInvalid(name);
}

}  // namespace

std::vector<std::wstring> CommandLineArguments() {
    int count = 0;
    const std::unique_ptr<LPWSTR, LocalFreeDeleter> arguments(
        ::CommandLineToArgvW(::GetCommandLineW(), &count));
    if (!arguments)
        win32::ThrowLastError();
    std::vector<std::wstring> result;
    for (int i = 1; i < count; ++i)
        result.emplace_back(arguments.get()[i]);
    return result;
}

Options ParseOptions(const std::vector<std::wstring>& arguments) {
    Options options;
    for (std::size_t i = 0; i < arguments.size(); i += 2) {
        if (i + 1 == arguments.size())
            ThrowInvalid(arguments[i] + L" without a value");
        SetOption(options, arguments[i], arguments[i + 1]);
    }
    return options;
}

}  // namespace ordovan::simulator
