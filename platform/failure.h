#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <utility>

namespace ordovan {

// What went wrong in a platform operation: the platform's own error number and its description.
// Thrown by every seam operation; each procedure catches it on its one failure path and hands it
// to the error log.
class Failure : public std::exception {
  public:
    Failure(std::int32_t number, std::wstring description)
        : number_(number), description_(std::move(description)) {}

    std::int32_t Number() const noexcept { return number_; }
    const std::wstring& Description() const noexcept { return description_; }
    const char* what() const noexcept override { return "ordovan::Failure"; }

  private:
    std::int32_t number_;
    std::wstring description_;
};

// The one failure the system raises itself: more image subfolders holding a lock file than the
// 16-bit count can hold. Number 534 is Windows' ERROR_ARITHMETIC_OVERFLOW, so the log reads like
// every other platform failure; the text names what actually overflowed.
inline constexpr std::int32_t kCountOverflowNumber = 534;
inline constexpr std::wstring_view kCountOverflowDescription =
    L"\u00dcberlauf: mehr als 32767 Bildordner mit LOCK.LCK";

// A key string the notation reader cannot read. 87 is Windows' ERROR_INVALID_PARAMETER.
inline constexpr std::int32_t kInvalidKeyStringNumber = 87;

// An image subfolder left in the watch folder for an image below its own level: no failure, but
// logged like one so that it is seen. 145 is Windows' ERROR_DIR_NOT_EMPTY: the folder stays.
inline constexpr std::int32_t kKeptFolderNumber = 145;
inline constexpr std::wstring_view kKeptFolderDescription = L"Bildordner behalten, ";

// What a copy fails with when no image matches: Windows' ERROR_FILE_NOT_FOUND.
inline constexpr std::int32_t kNoImageNumber = 2;

}  // namespace ordovan
