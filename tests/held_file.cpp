#include "tests/held_file.h"

#include "tests/launch.h"

#include <atomic>
#include <array>
#include <stdexcept>
#include <string>

namespace ordovan::test {

namespace {

constexpr std::wstring_view kHolderProgram = L"file_holder.exe";
constexpr DWORD kHolderStartTimeoutMs = 20000;
constexpr DWORD kHolderEndTimeoutMs = 20000;
constexpr DWORD kModulePathLength = 32768;

std::wstring BesideThisProgram(std::wstring_view name) {
    std::wstring path(kModulePathLength, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), kModulePathLength);
    path.resize(length);
    path.resize(path.find_last_of(L'\\') + 1);
    return path + std::wstring(name);
}

std::wstring UniqueEventName(std::wstring_view role) {
    static std::atomic<unsigned> counter{0};
    return L"Local\\ordovan-file-holder-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
           std::to_wstring(counter++) + L"-" + std::wstring(role);
}

win32::UniqueKernelHandle NewEvent(const std::wstring& name) {
    win32::UniqueKernelHandle event(::CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
    if (!event)
        throw std::runtime_error("cannot create an event for the file holder");
    return event;
}

std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

}  // namespace

HeldFile::HeldFile(const std::wstring& path, Sharing sharing) {
    Start(path, sharing, L"");
}

HeldFile::HeldFile(const std::wstring& path, Sharing sharing, DWORD holdMs) {
    Start(path, sharing, L" " + std::to_wstring(holdMs));
}

void HeldFile::Start(const std::wstring& path, Sharing sharing, const std::wstring& holdArgument) {
    const std::wstring readyName = UniqueEventName(L"ready");
    const std::wstring releaseName = UniqueEventName(L"release");
    ready_ = NewEvent(readyName);
    release_ = NewEvent(releaseName);

    const std::wstring program = BesideThisProgram(kHolderProgram);
    const wchar_t* sharingArgument = sharing == Sharing::None   ? L"none "
                                     : sharing == Sharing::Read ? L"read "
                                                                : L"delete ";
    process_ = Launch(program, Quoted(path) + L" " + sharingArgument + readyName + L" " +
                                   releaseName + holdArgument)
                   .process;
    if (!process_)
        throw std::runtime_error("cannot start file_holder.exe");

    // Either the holder has the file, or it ended without getting it.
    const std::array waits{ready_.get(), process_.get()};
    if (::WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE,
                                 kHolderStartTimeoutMs) != WAIT_OBJECT_0) {
        Release();
        throw std::runtime_error("file_holder.exe could not open the file");
    }
}

HeldFile::~HeldFile() {
    Release();
}

bool HeldFile::Release() {
    if (!process_)
        return false;
    ::SetEvent(release_.get());
    const bool ended = ::WaitForSingleObject(process_.get(), kHolderEndTimeoutMs) == WAIT_OBJECT_0;
    DWORD exitCode = STILL_ACTIVE;
    ::GetExitCodeProcess(process_.get(), &exitCode);
    process_.reset();
    return ended && exitCode == 0;
}

}  // namespace ordovan::test
