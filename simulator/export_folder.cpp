#include "simulator/export_folder.h"

#include <shlobj.h>

#include <cstdint>

#include "platform/win32/last_error.h"
#include "simulator/dicom_writer.h"

namespace ordovan::simulator {
namespace {

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
    const bool separated = !folder.empty() && (folder.back() == L'\\' || folder.back() == L'/');
    return separated ? folder + name : folder + L"\\" + name;
}

std::wstring SeriesName(int patient, int series) {
    return L"P" + std::to_wstring(patient) + L"_S" + std::to_wstring(series);
}

// Image names are unique across the run because every image ends up in one target folder.
std::wstring ImageName(int patient, int series, int image) {
    return SeriesName(patient, series) + L"_I" + std::to_wstring(image) + L".dcm";
}

void CreateFolderWithParents(const std::wstring& path) {
    const int result = ::SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
    if (result != ERROR_SUCCESS && result != ERROR_ALREADY_EXISTS && result != ERROR_FILE_EXISTS)
        throw win32::ErrorFailure(static_cast<DWORD>(result));
}

win32::UniqueFile CreateFileOrThrow(const std::wstring& path, DWORD share) {
    win32::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, share, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        win32::ThrowLastError();
    return file;
}

void WriteWholeFile(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
    const win32::UniqueFile file = CreateFileOrThrow(path, 0);
    DWORD written = 0;
    if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr)) {
        win32::ThrowLastError();
    }
}

}  // namespace

ExportFolder::ExportFolder(const Options& options, std::string uidRoot)
    : options_(options), uidRoot_(std::move(uidRoot)) {}

std::wstring ExportFolder::SubfolderPath(int patient, int series) const {
    return Join(options_.watchFolder, SeriesName(patient, series));
}

int ExportFolder::Export(int patient) {
    if (!options_.referenceFolder.empty())
        CreateFolderWithParents(options_.referenceFolder);
    int written = 0;
    for (int series = 1; series <= options_.seriesPerPatient; ++series) {
        const std::wstring folder = SubfolderPath(patient, series);
        CreateFolderWithParents(folder);
        for (int image = 1; image <= options_.imagesPerSeries; ++image) {
            const auto bytes = DicomImage({uidRoot_, patient, series, image});
            const std::wstring name = ImageName(patient, series, image);
            WriteWholeFile(Join(folder, name), bytes);
            if (!options_.referenceFolder.empty())
                WriteWholeFile(Join(options_.referenceFolder, name), bytes);
            ++written;
        }
    }
    return written;
}

void ExportFolder::Lock(int patient) {
    auto& files = held_[patient];
    for (int series = 1; series <= options_.seriesPerPatient; ++series) {
        const std::wstring path =
            Join(SubfolderPath(patient, series), std::wstring(driven_app::kLockFileName));
        files.push_back(CreateFileOrThrow(path, FILE_SHARE_READ));
    }
}

std::vector<int> ExportFolder::Release() {
    std::vector<int> patients;
    for (const auto& entry : held_)
        patients.push_back(entry.first);
    held_.clear();
    return patients;
}

}  // namespace ordovan::simulator
