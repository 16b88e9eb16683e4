#include "dicom/patient_fields.h"

#include <array>

namespace ordovan::dicom {

namespace {

constexpr wchar_t kComponentSeparator = L'^';
constexpr wchar_t kGroupSeparator = L'=';
constexpr wchar_t kValueSeparator = L'\\';

std::wstring_view TrimmedSpaces(std::wstring_view text) {
    const auto first = text.find_first_not_of(L' ');
    if (first == std::wstring_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(L' ') - first + 1);
}

// Family, given and middle name; the components after them stay unread.
std::array<std::wstring_view, 3> NameComponents(std::wstring_view group) {
    std::array<std::wstring_view, 3> components;
    for (auto& component : components) {
        const auto end = group.find(kComponentSeparator);
        component = TrimmedSpaces(group.substr(0, end));
        if (end == std::wstring_view::npos)
            break;
        group.remove_prefix(end + 1);
    }
    return components;
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// The number the digits form, or -1 when one of them is not a digit.
int Number(std::wstring_view digits) {
    int number = 0;
    for (const wchar_t digit : digits) {
        if (digit < L'0' || digit > L'9')
            return -1;
        number = number * 10 + (digit - L'0');
    }
    return number;
}

// A multi-valued ID or name ("A\B") shows its first value.
std::wstring_view FirstValue(std::wstring_view text) {
    return text.substr(0, text.find(kValueSeparator));
}

std::wstring ShowNameGroup(std::wstring_view group) {
    const auto [family, given, middle] = NameComponents(group);
    std::wstring forenames(given);
    if (!forenames.empty() && !middle.empty())
        forenames += L' ';
    forenames += middle;
    if (family.empty() || forenames.empty())
        return std::wstring(family) + forenames;
    return std::wstring(family) + L", " + forenames;
}

}  // namespace

std::wstring ShowPersonName(std::wstring_view name) {
    for (;;) {
        const auto end = name.find(kGroupSeparator);
        std::wstring shown = ShowNameGroup(name.substr(0, end));
        if (!shown.empty() || end == std::wstring_view::npos)
            return shown;
        name.remove_prefix(end + 1);
    }
}

std::wstring ShowDate(std::wstring_view date) {
    constexpr std::size_t kLength = 8;  // YYYYMMDD
    if (date.size() != kLength)
        return {};
    const int year = Number(date.substr(0, 4));
    const int month = Number(date.substr(4, 2));
    const int day = Number(date.substr(6, 2));
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        return {};
    std::wstring shown;
    shown.append(date.substr(6, 2)).append(L".");
    shown.append(date.substr(4, 2)).append(L".");
    shown.append(date.substr(0, 4));
    return shown;
}

PatientFields ShowPatientFields(const HeaderValues& values) {
    const std::wstring_view id = FirstValue(values.patientId);
    return {
        .patientId = std::wstring(TrimmedSpaces(id)),
        .name = ShowPersonName(FirstValue(values.patientName)),
        .birthDate = ShowDate(values.birthDate),
        .studyDate = ShowDate(values.studyDate),
        .idLostCharacters = values.patientIdLostCharacters || id.size() != values.patientId.size()};
}

PatientFields ReadPatientFields(std::span<const std::uint8_t> bytes) {
    const std::optional<HeaderValues> values = ReadHeaderValues(bytes);
    return values ? ShowPatientFields(*values) : PatientFields{};
}

}  // namespace ordovan::dicom
