#pragma once

#include <cstdint>
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/failure.h"
#include "platform/file_system.h"

namespace ordovan::test {

// Runs the operation and hands back the Failure it threw, if any.
template <typename Operation>
std::optional<Failure> FailureOf(Operation&& operation) {
    try {
        std::forward<Operation>(operation)();
    } catch (const Failure& failure) {
        return failure;
    }
    return std::nullopt;
}

// Stands in front of a real file system and makes chosen operations throw instead of reaching
// it, so that failure paths can run on demand. Records which operations were asked for, on which
// path, failing or not.
class FailingFileSystem final : public FileSystem {
  public:
    enum class Operation {
        SubFolders,
        CopyFile,
        ViewFolder,
        DeleteCopiedFolder,
        DeleteFolder,
        FolderExists,
        FileExists,
        CreateFolder,
        CreateTextFile,
        AppendLine,
        ReadFileStart
    };
    struct Call {
        Operation operation;
        std::wstring path;
    };

    explicit FailingFileSystem(FileSystem& real) : real_(real) {}

    void FailOn(Operation operation, std::int32_t number, std::wstring description = L"test") {
        FailOn(operation, std::make_exception_ptr(Failure(number, std::move(description))));
    }
    void FailOn(Operation operation, std::exception_ptr exception) {
        failures_[operation] = std::move(exception);
    }
    void StopFailing(Operation operation) { failures_.erase(operation); }

    const std::vector<Call>& Calls() const { return calls_; }
    bool WasCalled(Operation operation) const {
        for (const Call& call : calls_) {
            if (call.operation == operation)
                return true;
        }
        return false;
    }

    std::vector<std::wstring> SubFolders(std::wstring_view folder) override {
        Enter(Operation::SubFolders, folder);
        return real_.SubFolders(folder);
    }
    FolderFiles CopyFile(std::wstring_view sourcePattern, std::wstring_view destination,
                         bool overwrite, const CopyHeartbeat& heartbeat) override {
        Enter(Operation::CopyFile, sourcePattern);
        return real_.CopyFile(sourcePattern, destination, overwrite, heartbeat);
    }
    FolderView ViewFolder(std::wstring_view sourcePattern) override {
        Enter(Operation::ViewFolder, sourcePattern);
        return real_.ViewFolder(sourcePattern);
    }
    bool DeleteCopiedFolder(std::wstring_view sourcePattern, const FolderFiles& copied,
                            std::wstring_view lastFile) override {
        Enter(Operation::DeleteCopiedFolder, sourcePattern);
        return real_.DeleteCopiedFolder(sourcePattern, copied, lastFile);
    }
    void DeleteFolder(std::wstring_view folder, bool force) override {
        Enter(Operation::DeleteFolder, folder);
        real_.DeleteFolder(folder, force);
    }
    bool FolderExists(std::wstring_view path) override {
        Enter(Operation::FolderExists, path);
        return real_.FolderExists(path);
    }
    bool FileExists(std::wstring_view path) override {
        Enter(Operation::FileExists, path);
        return real_.FileExists(path);
    }
    void CreateFolder(std::wstring_view path) override {
        Enter(Operation::CreateFolder, path);
        real_.CreateFolder(path);
    }
    void CreateTextFile(std::wstring_view path) override {
        Enter(Operation::CreateTextFile, path);
        real_.CreateTextFile(path);
    }
    void AppendLine(std::wstring_view path, std::wstring_view line) override {
        Enter(Operation::AppendLine, path);
        real_.AppendLine(path, line);
    }
    std::vector<std::uint8_t> ReadFileStart(std::wstring_view path, std::size_t maxBytes) override {
        Enter(Operation::ReadFileStart, path);
        return real_.ReadFileStart(path, maxBytes);
    }

  private:
    void Enter(Operation operation, std::wstring_view path) {
        calls_.push_back({operation, std::wstring(path)});
        if (const auto failure = failures_.find(operation); failure != failures_.end()) {
            std::rethrow_exception(failure->second);
        }
    }

    FileSystem& real_;
    std::map<Operation, std::exception_ptr> failures_;
    std::vector<Call> calls_;
};

}  // namespace ordovan::test
