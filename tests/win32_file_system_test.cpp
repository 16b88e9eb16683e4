#include "platform/win32/win32_file_system.h"

#include <windows.h>
// <windows.h> maps CopyFile to CopyFileW; the file system interface has a member of that name.
#undef CopyFile

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32/handles.h"
#include "platform/win32/image_copy.h"
#include "platform/win32/last_error.h"
#include "platform/win32/long_path.h"
#include "platform/win32/win32_journal_file.h"
#include "tests/failing_file_system.h"
#include "tests/held_file.h"
#include "tests/launch.h"
#include "tests/test_folder.h"

namespace ordovan::win32 {
namespace {

using test::FailureOf;
using test::TestFolder;

constexpr std::string_view kImageBytes{"DICM\0\x01\xff\r\n\x1a end", 14};
constexpr std::string_view kOtherBytes = "an older, longer export of the same image";

// The platform's own listing of a pattern's names, in its order.
std::vector<std::wstring> PlatformOrder(const std::wstring& pattern) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data{};
    UniqueFind find(::FindFirstFileW(pattern.c_str(), &data));
    if (!find)
        return names;
    do {
        names.emplace_back(data.cFileName);
    } while (::FindNextFileW(find.get(), &data));
    return names;
}

void ExpectPlatformFailure(const std::optional<Failure>& failure, DWORD number) {
    ASSERT_TRUE(failure.has_value()) << "no failure for expected error " << number;
    EXPECT_EQ(failure->Number(), static_cast<std::int32_t>(number));
    EXPECT_FALSE(failure->Description().empty());
    EXPECT_EQ(failure->Description(), DescribeError(number));
}

// Makes an image's copy go wrong as a dropped network share or a full disk would, and passes
// every other call on to the system.
class FaultyCopyCalls final : public CopyCalls {
  public:
    enum class Fault { None, CutOff, CutShort, Altered, Flush };
    Fault fault = Fault::None;

    bool CopyBytes(const std::wstring& from, const std::wstring& to, Heartbeat& beat) override {
        if (fault == Fault::None || fault == Fault::Flush)
            return CopyCalls::CopyBytes(from, to, beat);
        std::ifstream in(std::filesystem::path(from), std::ios::binary);
        std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (fault == Fault::Altered)
            bytes.back() ^= 1;
        else
            bytes.resize(bytes.size() / 2);
        std::ofstream(std::filesystem::path(to), std::ios::binary) << bytes;
        if (fault == Fault::CutOff)
            throw ErrorFailure(ERROR_NETNAME_DELETED);
        return true;
    }
    void Flush(HANDLE file) override {
        if (fault == Fault::Flush)
            throw ErrorFailure(ERROR_WRITE_FAULT);
        CopyCalls::Flush(file);
    }
};

class Win32FileSystemTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_.MakeFolder(L"source");
        folder_.MakeFolder(L"target");
    }

    std::wstring Source(std::wstring_view relative) const {
        return folder_.PathOf(L"source\\" + std::wstring(relative));
    }
    std::wstring Target() const { return folder_.PathOf(L"target"); }

    TestFolder folder_;
    FaultyCopyCalls calls_;
    Win32FileSystem files_{calls_};
};

// --- CopyFile ---------------------------------------------------------------------------------

TEST_F(Win32FileSystemTest, CopyFileFailsWithFileNotFoundWhenOnlyFoldersAndOtherFilesExist) {
    folder_.MakeFolder(L"source\\series.dcm");
    folder_.WriteBytes(L"source\\notes.txt", kOtherBytes);

    ExpectPlatformFailure(FailureOf([&] { files_.CopyFile(Source(L"*.dcm"), Target(), true, {}); }),
                          ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(PlatformOrder(Target() + L"\\*").size(), 2u);  // "." and ".." only
}

TEST_F(Win32FileSystemTest, CopyFileFailsWithPathNotFoundForMissingOrFileDestination) {
    folder_.WriteBytes(L"source\\1.dcm", kImageBytes);
    folder_.WriteBytes(L"plain-file", kOtherBytes);

    ExpectPlatformFailure(
        FailureOf([&] { files_.CopyFile(Source(L"*.dcm"), folder_.PathOf(L"missing"), true, {}); }),
        ERROR_PATH_NOT_FOUND);
    ExpectPlatformFailure(
        FailureOf(
            [&] { files_.CopyFile(Source(L"*.dcm"), folder_.PathOf(L"plain-file"), true, {}); }),
        ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(folder_.Exists(L"missing"));
    EXPECT_EQ(folder_.ReadBytes(L"plain-file"), kOtherBytes);
}

// A read-only file holding the image's bytes was not made by the tool, whose copies are plain:
// Windows refuses to replace it, and so does the tool under Wine. The file system matches names
// without regard to case, so a read-only "1.DCM" is the same file.
TEST_F(Win32FileSystemTest, CopyFileRefusesReadOnlyFileHoldingTheSameBytes) {
    folder_.WriteBytes(L"source\\1.dcm", kImageBytes);
    folder_.WriteBytes(L"source\\\u00e4.dcm", kImageBytes);
    for (const wchar_t* name : {L"target\\1.dcm", L"target\\\u00c4.DCM"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(name)));
        folder_.WriteBytes(name, kImageBytes);
        folder_.MakeReadOnly(name);

        ExpectPlatformFailure(
            FailureOf([&] { files_.CopyFile(Source(L"*.dcm"), Target(), true, {}); }),
            ERROR_ACCESS_DENIED);
        EXPECT_NE(::GetFileAttributesW(folder_.PathOf(name).c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
        EXPECT_FALSE(folder_.Exists(L"target\\1 (2).dcm"));
        EXPECT_FALSE(folder_.Exists(L"target\\\u00e4 (2).dcm"));
        ASSERT_TRUE(::SetFileAttributesW(folder_.PathOf(name).c_str(), FILE_ATTRIBUTE_NORMAL));
        ASSERT_TRUE(::DeleteFileW(folder_.PathOf(name).c_str()));
    }
}

// A read-only, hidden or system export leaves a plain copy: Windows refuses to replace a
// read-only or hidden file, so such a copy would make every later image of its name fail. The
// copy records the source as its handle tells it.
TEST_F(Win32FileSystemTest, CopyOfReadOnlyHiddenOrSystemImageIsPlainSoItCanBeReplaced) {
    const DWORD kinds[] = {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM,
                           FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN,
                           FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM};
    constexpr DWORD kNotPlain =
        FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    for (const DWORD kind : kinds) {
        SCOPED_TRACE(kind);
        // A target of its own, so that each kind's first copy is a fresh one.
        const std::wstring target = L"target" + std::to_wstring(kind) + L"\\";
        folder_.MakeFolder(target);
        const std::wstring source = Source(L"1.dcm");
        ::SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_NORMAL);
        folder_.WriteBytes(L"source\\1.dcm", kOtherBytes);
        ASSERT_TRUE(::SetFileAttributesW(source.c_str(), kind));

        for (int run = 0; run < 2; ++run) {  // the second replaces the first's copy
            const FolderFiles copied =
                files_.CopyFile(Source(L"*.dcm"), folder_.PathOf(target), true, {});
            ASSERT_EQ(copied.images.size(), 1u);
            EXPECT_EQ(copied.images[0].name, L"1.dcm");
            EXPECT_EQ(copied.images[0].copyName, L"1.dcm");
            EXPECT_EQ(copied.images[0].source.size, kOtherBytes.size());
            EXPECT_NE(copied.images[0].source.file, 0u);
            EXPECT_EQ(::GetFileAttributesW(source.c_str()) & kNotPlain, kind);
            EXPECT_EQ(::GetFileAttributesW(folder_.PathOf(target + L"1.dcm").c_str()) & kNotPlain,
                      0u);
        }
        EXPECT_EQ(PlatformOrder(folder_.PathOf(target + L"*")).size(), 3u);  // ".", "..", 1.dcm
    }
}

TEST_F(Win32FileSystemTest, CopyFileStopsAtFirstFailingFileAndKeepsEarlierCopies) {
    for (const wchar_t* name : {L"a.dcm", L"b.dcm", L"c.dcm", L"d.dcm", L"e.dcm"}) {
        folder_.WriteBytes(L"source\\" + std::wstring(name), kImageBytes);
    }
    // The third file in the platform's order is blocked, so some copies precede it and some
    // would follow it.
    const std::vector<std::wstring> order = PlatformOrder(Source(L"*.dcm"));
    ASSERT_EQ(order.size(), 5u);
    const std::wstring blocked = L"target\\" + order[2];
    folder_.WriteBytes(blocked, kImageBytes);
    folder_.MakeReadOnly(blocked);

    ExpectPlatformFailure(FailureOf([&] { files_.CopyFile(Source(L"*.dcm"), Target(), true, {}); }),
                          ERROR_ACCESS_DENIED);
    for (std::size_t i : {0u, 1u}) {
        EXPECT_EQ(folder_.ReadBytes(L"target\\" + order[i]), kImageBytes) << i;
    }
    EXPECT_NE(::GetFileAttributesW(folder_.PathOf(blocked).c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    for (std::size_t i : {3u, 4u}) {
        EXPECT_FALSE(folder_.Exists(L"target\\" + order[i])) << i;
    }
}

// Every patient's images meet in one folder, and many applications name every export IMG001.dcm:
// an image never replaces a different one. It goes under the first numbered name that is free or
// already holds its bytes, so a retry or a second run gives the same names and adds no file. A
// copy gets a name only when it is whole and on the disk, and is compared as it came out: one
// that goes wrong leaves no file under any image's name, and what an earlier cut-off copy left is
// neither an image nor in the way.
TEST_F(Win32FileSystemTest, CopyFileKeepsEveryDifferentImageOfTheSameName) {
    const std::string sameSize(kImageBytes.size(), 'x');
    const std::string image(kImageBytes);
    const std::string other(kOtherBytes);
    const std::string aFolder = "<a folder>";
    // Alike in the first step of the comparison (64 KiB), different after it.
    const std::string large = std::string(64 * 1024, 'a') + "the image's own end";
    const std::string largeOther = std::string(64 * 1024, 'a') + "another image's end";
    const std::wstring unfinished = L"a.b.dcm" + std::wstring(kUnfinishedSuffix);
    const std::string cutOff = image.substr(0, 5);
    using Fault = FaultyCopyCalls::Fault;
    struct Case {
        const char* what;
        std::vector<std::pair<std::wstring, std::string>> before;  // in the target
        std::wstring expectedName;                                 // none: the copy fails
        std::string source = std::string(kImageBytes);
        Fault fault = Fault::None;
    };
    const Case cases[] = {
        {"free name", {}, L"a.b.dcm"},
        {"same bytes", {{L"a.b.dcm", image}}, L"a.b.dcm"},
        {"other size", {{L"a.b.dcm", other}}, L"a.b (2).dcm"},
        {"same size, other bytes", {{L"a.b.dcm", sameSize}}, L"a.b (2).dcm"},
        {"same first 64 KiB, other bytes later", {{L"a.b.dcm", largeOther}}, L"a.b (2).dcm", large},
        {"second name taken too",
         {{L"a.b.dcm", sameSize}, {L"a.b (2).dcm", other}},
         L"a.b (3).dcm"},
        {"second name holds the image",
         {{L"A.B.DCM", sameSize}, {L"a.b (2).dcm", image}},
         L"a.b (2).dcm"},
        {"a folder of the name", {{L"a.b.dcm", aFolder}}, L"a.b (2).dcm"},
        {"left over from a cut-off copy", {{unfinished, cutOff}}, L"a.b.dcm"},
        {"left over beside the same image",
         {{L"a.b.dcm", image}, {unfinished, cutOff}},
         L"a.b.dcm"},
        {"cut off half way", {}, L"", image, Fault::CutOff},
        {"copied short without an error", {}, L"", image, Fault::CutShort},
        {"not flushed", {}, L"", image, Fault::Flush},
        {"taken name compared with what the copy holds",
         {{L"a.b.dcm", image}},
         L"a.b (2).dcm",
         image,
         Fault::Altered},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        folder_.WriteBytes(L"source\\a.b.dcm", c.source);
        calls_.fault = c.fault;
        const std::wstring target = L"target" + std::to_wstring(++index) + L"\\";
        folder_.MakeFolder(target);
        bool named = false;  // the expected name is taken already
        std::size_t leftovers = 0;
        for (const auto& [name, bytes] : c.before) {
            if (bytes == aFolder) {
                folder_.MakeFolder(target + name);
            } else {
                folder_.WriteBytes(target + name, bytes);
            }
            named = named || name == c.expectedName;
            if (name == unfinished) {
                folder_.MakeReadOnly(target + name);  // as the copy of a read-only export is
                ++leftovers;
            }
        }
        const std::size_t entriesBefore = PlatformOrder(folder_.PathOf(target + L"*")).size();

        for (int run = 0; run < 2 && !c.expectedName.empty(); ++run) {
            const FolderFiles copied =
                files_.CopyFile(Source(L"*.dcm"), folder_.PathOf(target), true, {});
            ASSERT_EQ(copied.images.size(), 1u);
            EXPECT_EQ(copied.images[0].name, L"a.b.dcm");
            EXPECT_EQ(copied.images[0].copyName, c.expectedName);
            EXPECT_EQ(copied.images[0].alreadyThere, named || run > 0);
        }
        if (c.expectedName.empty()) {
            EXPECT_TRUE(FailureOf(
                [&] { files_.CopyFile(Source(L"*.dcm"), folder_.PathOf(target), true, {}); }));
        } else if (c.fault == Fault::None) {
            EXPECT_EQ(folder_.ReadBytes(target + c.expectedName), c.source);
        }
        for (const auto& [name, bytes] : c.before) {
            if (bytes != aFolder && name != unfinished) {
                EXPECT_EQ(folder_.ReadBytes(target + name), bytes);
            }
        }
        EXPECT_FALSE(folder_.Exists(target + unfinished));
        EXPECT_EQ(PlatformOrder(folder_.PathOf(target + L"*")).size(),
                  entriesBefore - leftovers + (named || c.expectedName.empty() ? 0u : 1u));
    }
}

TEST_F(Win32FileSystemTest, CopyFileWithoutOverwriteKeepsExistingFile) {
    folder_.WriteBytes(L"source\\1.dcm", kImageBytes);
    folder_.WriteBytes(L"target\\1.dcm", kOtherBytes);

    ExpectPlatformFailure(
        FailureOf([&] { files_.CopyFile(Source(L"*.dcm"), Target(), false, {}); }),
        ERROR_FILE_EXISTS);
    EXPECT_EQ(folder_.ReadBytes(L"target\\1.dcm"), kOtherBytes);
}

TEST_F(Win32FileSystemTest, CopyFileTakesOnlyMatchingFilesOfTheFolderItself) {
    folder_.WriteBytes(L"source\\1.dcm", kImageBytes);
    folder_.WriteBytes(L"source\\LOCK.LCK", "");
    folder_.MakeFolder(L"source\\deeper");
    folder_.WriteBytes(L"source\\deeper\\2.dcm", kImageBytes);

    files_.CopyFile(Source(L"*.dcm"), Target(), true, {});

    EXPECT_EQ(folder_.ReadBytes(L"target\\1.dcm"), kImageBytes);
    EXPECT_FALSE(folder_.Exists(L"target\\LOCK.LCK"));
    EXPECT_FALSE(folder_.Exists(L"target\\deeper"));
    EXPECT_FALSE(folder_.Exists(L"target\\2.dcm"));
}

DWORD CALLBACK CountProgress(LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, DWORD,
                             DWORD, HANDLE, HANDLE, LPVOID calls) {
    ++*static_cast<int*>(calls);
    return PROGRESS_CONTINUE;
}

// Whether the system's CopyFileExW calls its progress routine at all.
bool CallsCopyProgress(const std::wstring& source, const std::wstring& copy) {
    int calls = 0;
    ::CopyFileExW(source.c_str(), copy.c_str(), CountProgress, &calls, nullptr, 0);
    return calls > 0;
}

// The copy lets its caller's window look at its queue before each image, during a long one and
// while it compares a taken name. What the caller throws there ends the copy at once: the image
// in progress is removed, under its unfinished name too.
TEST_F(Win32FileSystemTest, CopyFileEndsAtOnceWhenItsHeartbeatThrows) {
    struct Closed {};
    constexpr DWORD kLongerThanAPeriodMs = 150;
    constexpr std::size_t kLongImageBytes = 16 * 1024 * 1024;
    const std::wstring unfinished = L"target\\1.dcm" + std::wstring(kUnfinishedSuffix);
    folder_.WriteBytes(L"source\\1.dcm", kImageBytes);
    int beats = 0;
    EXPECT_THROW(files_.CopyFile(Source(L"*.dcm"), Target(), true,
                                 [&beats] {
                                     ++beats;
                                     throw Closed{};
                                 }),
                 Closed);
    EXPECT_EQ(beats, 1);
    EXPECT_FALSE(folder_.Exists(L"target\\1.dcm"));

    beats = 0;
    const auto closeDuringTheImage = [&beats] {
        if (++beats > 1)
            throw Closed{};
        ::Sleep(kLongerThanAPeriodMs);
    };
    const std::string sameSize(kImageBytes.size(), 'x');
    folder_.WriteBytes(L"target\\1.dcm", sameSize);
    EXPECT_THROW(files_.CopyFile(Source(L"*.dcm"), Target(), true, closeDuringTheImage), Closed);
    EXPECT_EQ(beats, 2);
    EXPECT_EQ(folder_.ReadBytes(L"target\\1.dcm"), sameSize);
    EXPECT_FALSE(folder_.Exists(unfinished));
    EXPECT_FALSE(folder_.Exists(L"target\\1 (2).dcm"));
    ASSERT_TRUE(::DeleteFileW(folder_.PathOf(L"target\\1.dcm").c_str()));

    if (!CallsCopyProgress(Source(L"1.dcm"), folder_.PathOf(L"probe.dcm")))
        GTEST_SKIP() << "this system's CopyFileExW reports no progress (Wine 8 does not)";
    folder_.WriteBytes(L"source\\1.dcm", std::string(kLongImageBytes, 'x'));
    beats = 0;
    EXPECT_THROW(files_.CopyFile(Source(L"*.dcm"), Target(), true, closeDuringTheImage), Closed);
    EXPECT_EQ(beats, 2);
    EXPECT_FALSE(folder_.Exists(L"target\\1.dcm"));
    EXPECT_FALSE(folder_.Exists(unfinished));
}

// --- DeleteCopiedFolder -----------------------------------------------------------------------

void CopyLastWriteTime(const std::wstring& from, const std::wstring& to) {
    FILETIME written{};
    const UniqueFile source(
        ::CreateFileW(from.c_str(), FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(::GetFileTime(source.get(), nullptr, nullptr, &written));
    const UniqueFile copy(
        ::CreateFileW(to.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(::SetFileTime(copy.get(), nullptr, nullptr, &written));
}

// A copied folder goes with everything in it only when every image in it is the very file the
// copy took, unchanged: same file, size and last write, as their handles tell, and no image lies
// below its own level. Otherwise it stays whole, and nothing in it is deleted.
TEST_F(Win32FileSystemTest, DeleteCopiedFolderDeletesOnlyWhatTheCopyTookUnchanged) {
    const std::wstring image = L"image\\1.dcm";
    struct Case {
        const char* what;
        std::function<void()> change;
        bool deleted;
    };
    const Case cases[] = {
        {"unchanged", [] {}, true},
        {"a copied image gone since",
         [&] { ASSERT_TRUE(::DeleteFileW(folder_.PathOf(L"image\\3.dcm").c_str())); }, true},
        {"image added", [&] { folder_.WriteBytes(L"image\\9.dcm", kImageBytes); }, false},
        {"image rewritten", [&] { folder_.WriteBytes(image, kOtherBytes); }, false},
        {"image made anew with the same name, bytes and time",
         [&] {
             ASSERT_TRUE(
                 ::MoveFileW(folder_.PathOf(image).c_str(), folder_.PathOf(L"old.dcm").c_str()));
             folder_.WriteBytes(image, kImageBytes);
             CopyLastWriteTime(folder_.PathOf(L"old.dcm"), folder_.PathOf(image));
         },
         false},
        {"an image below its own level",
         [&] { folder_.WriteBytes(L"image\\deeper\\more\\5.DCM", kImageBytes); }, false},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        folder_.MakeFolder(L"image\\deeper\\more");
        folder_.WriteBytes(image, kImageBytes);
        folder_.WriteBytes(L"image\\2.dcm", kOtherBytes);
        folder_.MakeReadOnly(L"image\\2.dcm");
        folder_.WriteBytes(L"image\\3.dcm", kImageBytes);
        folder_.WriteBytes(L"image\\LOCK.LCK", "");
        folder_.WriteBytes(L"image\\deeper\\4.txt", kImageBytes);
        const std::wstring pattern = folder_.PathOf(L"image\\*.dcm");
        const std::wstring target = L"target" + std::to_wstring(++index);
        folder_.MakeFolder(target);
        const FolderFiles copied = files_.CopyFile(pattern, folder_.PathOf(target), true, {});
        c.change();

        EXPECT_EQ(files_.DeleteCopiedFolder(pattern, copied, L"LOCK.LCK"), c.deleted);

        EXPECT_EQ(folder_.Exists(L"image"), !c.deleted);
        if (!c.deleted) {
            for (const wchar_t* kept :
                 {L"image\\1.dcm", L"image\\2.dcm", L"image\\LOCK.LCK", L"image\\deeper\\4.txt"}) {
                EXPECT_TRUE(folder_.Exists(kept)) << testing::PrintToString(std::wstring(kept));
            }
            ::SetFileAttributesW(folder_.PathOf(L"image\\2.dcm").c_str(), FILE_ATTRIBUTE_NORMAL);
            files_.DeleteFolder(folder_.PathOf(L"image"), true);
        }
        ::DeleteFileW(folder_.PathOf(L"old.dcm").c_str());
    }
}

// Another program holds the copied image for a moment while the deletion runs, and the
// application may write an image meanwhile. The deletion waits for the holder, looks for new
// images before it removes anything else, and removes the lock file last: an image that came
// while it waited keeps the folder with its lock file. One that comes after the lock file went,
// while a reader with delete sharing keeps the deleted image listed, keeps the folder without it;
// so does one written anew under the name of an image just deleted. With no new image the emptied
// folder goes once the reader lets go.
TEST_F(Win32FileSystemTest, DeleteCopiedFolderKeepsTheFolderForAnImageArrivingDuringIt) {
    using Sharing = test::HeldFile::Sharing;
    constexpr ULONGLONG kLongestWaitMs = 5000;  // should `after` never go
    struct Case {
        const char* what;
        Sharing sharing;
        DWORD holdMs;
        const wchar_t* arriving;  // written once `after` is gone, or this long after the start
        const wchar_t* after;
        DWORD arrivalMs;
        bool deleted;
        std::optional<bool> lockKept;  // nothing where the arrival may come before or after it
    };
    const Case cases[] = {
        {"while it waits for the image", Sharing::None, 600, L"image\\9.dcm", nullptr, 150, false,
         true},
        {"below its own level while it waits", Sharing::None, 600, L"image\\sub\\9.dcm", nullptr,
         150, false, true},
        {"after the lock file went", Sharing::Delete, 700, L"image\\9.dcm", L"image\\LOCK.LCK", 0,
         false, false},
        {"under the name of an image just deleted", Sharing::Delete, 700, L"image\\2.dcm",
         L"image\\2.dcm", 0, false, std::nullopt},
        {"none, a reader keeps the only image listed", Sharing::Delete, 300, nullptr, nullptr, 0,
         true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Listed after the lock file (Windows and Wine list names in order), so that only the
        // lock file's going last keeps it.
        folder_.MakeFolder(L"image\\sub");
        folder_.WriteBytes(L"image\\1.dcm", kImageBytes);
        if (c.after != nullptr && c.after == c.arriving)
            folder_.WriteBytes(c.arriving, kImageBytes);
        folder_.WriteBytes(L"image\\LOCK.LCK", "");
        const std::wstring pattern = folder_.PathOf(L"image\\*.dcm");
        const FolderFiles copied = files_.CopyFile(pattern, Target(), true, {});
        std::optional<Failure> failure;
        {
            const test::HeldFile reader(folder_.PathOf(L"image\\1.dcm"), c.sharing, c.holdMs);
            std::thread application([&] {
                if (c.after == nullptr)
                    ::Sleep(c.arrivalMs);
                const ULONGLONG giveUp = ::GetTickCount64() + kLongestWaitMs;
                while (c.after != nullptr && folder_.Exists(c.after) && ::GetTickCount64() < giveUp)
                    std::this_thread::yield();
                if (c.arriving != nullptr)  // the same bytes: only its last write tells it apart
                    folder_.WriteBytes(c.arriving, kImageBytes);
            });
            failure = FailureOf([&] {
                EXPECT_EQ(files_.DeleteCopiedFolder(pattern, copied, L"LOCK.LCK"), c.deleted);
            });
            application.join();
        }  // the reader lets go

        EXPECT_FALSE(failure.has_value()) << failure->Number();
        EXPECT_EQ(folder_.Exists(L"image"), !c.deleted);
        if (c.lockKept.has_value()) {
            EXPECT_EQ(folder_.Exists(L"image\\LOCK.LCK"), *c.lockKept);
        }
        if (c.arriving != nullptr) {
            EXPECT_EQ(folder_.ReadBytes(c.arriving), kImageBytes);
            files_.DeleteFolder(folder_.PathOf(L"image"), true);
        }
    }
}

// --- DeleteFolder -----------------------------------------------------------------------------

TEST_F(Win32FileSystemTest, DeleteFolderWithForceRemovesReadOnlyContentAtEveryDepth) {
    folder_.MakeFolder(L"image\\nested");
    folder_.WriteBytes(L"image\\1.dcm", kImageBytes);
    folder_.WriteBytes(L"image\\nested\\2.dcm", kImageBytes);
    folder_.MakeReadOnly(L"image\\1.dcm");
    folder_.MakeReadOnly(L"image\\nested\\2.dcm");
    folder_.MakeReadOnly(L"image\\nested");
    folder_.MakeReadOnly(L"image");

    files_.DeleteFolder(folder_.PathOf(L"image"), true);

    EXPECT_FALSE(folder_.Exists(L"image"));
    EXPECT_TRUE(folder_.Exists(L"source"));
}

TEST_F(Win32FileSystemTest, DeleteFolderWithoutForceFailsOnReadOnlyFile) {
    folder_.MakeFolder(L"image");
    folder_.WriteBytes(L"image\\1.dcm", kImageBytes);
    folder_.MakeReadOnly(L"image\\1.dcm");

    ExpectPlatformFailure(FailureOf([&] { files_.DeleteFolder(folder_.PathOf(L"image"), false); }),
                          ERROR_ACCESS_DENIED);
    EXPECT_EQ(folder_.ReadBytes(L"image\\1.dcm"), kImageBytes);
}

// A directory link named `link` in `folder`, pointing to `relativeTarget` ("/" separated).
// Windows makes it with CreateSymbolicLinkW when developer mode or the privilege allows. Wine 8
// answers that call with success but makes nothing and has no junctions; it shows a Unix symbolic
// link as a linked folder, so there the Unix "ln" makes it (Wine starts Unix programs).
bool IsLinkedFolder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
               (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
}

// Runs a Unix program under Wine on the folder's entries ("/" separated). Wine cannot wait for a
// Unix process, so the caller waits for its effect.
void RunUnix(const wchar_t* program, const std::wstring& arguments, const std::wstring& folder) {
    test::Launch(program, arguments, folder);
}

// A directory link named `link` in `folder`, pointing to `relativeTarget` ("/" separated).
// Windows makes it with CreateSymbolicLinkW when developer mode or the privilege allows. Wine 8
// answers that call with success but makes nothing and has no junctions; it shows a Unix symbolic
// link as a linked folder, so there the Unix "ln" makes it (Wine starts Unix programs).
bool MakeFolderLink(const std::wstring& folder, const std::wstring& link,
                    const std::wstring& relativeTarget) {
    constexpr int kWaitSteps = 500;
    constexpr DWORD kWaitStepMs = 10;
    const std::wstring path = folder + L"\\" + link;
    std::wstring windowsTarget = relativeTarget;
    std::replace(windowsTarget.begin(), windowsTarget.end(), L'/', L'\\');
    ::CreateSymbolicLinkW(
        path.c_str(), windowsTarget.c_str(),
        SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    if (!IsLinkedFolder(path))
        RunUnix(L"Z:\\bin\\ln", L"-s " + relativeTarget + L" " + link, folder);
    for (int step = 0; step < kWaitSteps && !IsLinkedFolder(path); ++step)
        ::Sleep(kWaitStepMs);
    return IsLinkedFolder(path);
}

// Whatever a link points to may lie outside the watch folder: deleting a linked image subfolder,
// or a folder holding a link, never reaches through the link. Windows' RemoveDirectoryW removes
// the link itself; Wine 8 cannot remove a Unix symbolic link through Win32 at all (it answers
// "directory not empty"), so there the deletion fails and everything stays in place.
TEST_F(Win32FileSystemTest, DeleteFolderRemovesOnlyTheLinkNeverWhatItPointsTo) {
    folder_.MakeFolder(L"outside\\deeper");
    folder_.WriteBytes(L"outside\\1.dcm", kImageBytes);
    folder_.WriteBytes(L"outside\\deeper\\2.dcm", kOtherBytes);
    folder_.MakeFolder(L"watch\\holder");
    folder_.WriteBytes(L"watch\\holder\\3.dcm", kImageBytes);
    if (!MakeFolderLink(folder_.PathOf(L"watch"), L"linked", L"../outside") ||
        !MakeFolderLink(folder_.PathOf(L"watch\\holder"), L"nested", L"../../outside")) {
        GTEST_SKIP() << "this system lets the test make no folder link";
    }
    for (const wchar_t* deleted : {L"watch\\linked", L"watch\\holder"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(deleted)));
        const std::optional<Failure> failure =
            FailureOf([&] { files_.DeleteFolder(folder_.PathOf(deleted), true); });

        EXPECT_EQ(folder_.ReadBytes(L"outside\\1.dcm"), kImageBytes);
        EXPECT_EQ(folder_.ReadBytes(L"outside\\deeper\\2.dcm"), kOtherBytes);
        if (!failure.has_value()) {
            EXPECT_FALSE(folder_.Exists(deleted));
        }
    }
    // Wine's links go the Unix way, so that the test folder's clean-up does not meet them.
    for (const wchar_t* link : {L"watch/linked", L"watch/holder/nested"})
        RunUnix(L"Z:\\bin\\rm", link, folder_.Path());
}

TEST_F(Win32FileSystemTest, DeleteFolderFailsForMissingFolder) {
    ExpectPlatformFailure(FailureOf([&] { files_.DeleteFolder(folder_.PathOf(L"gone"), true); }),
                          ERROR_FILE_NOT_FOUND);
}

// --- Paths ----------------------------------------------------------------------------------

// Windows takes the "\\?\" form past MAX_PATH without the registry's long-path switch.
TEST(ExtendedLengthPath, FullPathsGetTheExtendedFormAndDeviceFormsStayAsTheyAre) {
    const std::wstring longName(300, L'x');
    wchar_t current[MAX_PATH];
    ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH, current), 0u);
    std::wstring here = current;
    if (here.back() != L'\\')
        here += L'\\';
    const struct {
        std::wstring path;
        std::wstring expected;
    } cases[] = {
        {L"C:\\a\\b.dcm", L"\\\\?\\C:\\a\\b.dcm"},
        {L"c:\\", L"\\\\?\\c:\\"},
        {L"C:/a/./b/../*.dcm", L"\\\\?\\C:\\a\\*.dcm"},
        {L"C:\\" + longName + L"\\1.dcm", L"\\\\?\\C:\\" + longName + L"\\1.dcm"},
        // Full paths of MAX_PATH - 1 and MAX_PATH characters: the first buffer's edge.
        {L"C:\\" + std::wstring(256, L'y'), L"\\\\?\\C:\\" + std::wstring(256, L'y')},
        {L"C:\\" + std::wstring(257, L'y'), L"\\\\?\\C:\\" + std::wstring(257, L'y')},
        {L"\\\\server\\share\\a", L"\\\\?\\UNC\\server\\share\\a"},
        {L"//server/share/a/../b", L"\\\\?\\UNC\\server\\share\\b"},
        {L"1.dcm", L"\\\\?\\" + here + L"1.dcm"},
        {L"\\\\?\\C:\\a\\..\\b", L"\\\\?\\C:\\a\\..\\b"},
        {L"\\\\?\\UNC\\server\\share", L"\\\\?\\UNC\\server\\share"},
        {L"\\\\.\\C:\\a", L"\\\\.\\C:\\a"},
        {L"\\??\\C:\\a", L"\\??\\C:\\a"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ExtendedLengthPath(c.path), c.expected) << testing::PrintToString(c.path);
}

// --- SubFolders -------------------------------------------------------------------------------

TEST_F(Win32FileSystemTest, SubFoldersOfMissingFolderFailsWithPathNotFound) {
    ExpectPlatformFailure(FailureOf([&] { files_.SubFolders(folder_.PathOf(L"missing")); }),
                          ERROR_PATH_NOT_FOUND);
}

TEST_F(Win32FileSystemTest, SubFoldersListsOnlyDirectoriesAsFullPaths) {
    folder_.MakeFolder(L"source\\image1");
    folder_.MakeFolder(L"source\\image2.dcm");
    folder_.WriteBytes(L"source\\stray.dcm", kImageBytes);

    const std::vector<std::wstring> found = files_.SubFolders(folder_.PathOf(L"source"));
    const std::vector<std::wstring> foundWithSeparator =
        files_.SubFolders(folder_.PathOf(L"source\\"));

    const std::set<std::wstring> expected{Source(L"image1"), Source(L"image2.dcm")};
    EXPECT_EQ(std::set<std::wstring>(found.begin(), found.end()), expected);
    EXPECT_EQ(found.size(), 2u);
    EXPECT_EQ(foundWithSeparator, found);
    EXPECT_TRUE(files_.SubFolders(Target()).empty());
}

// --- Existence -------------------------------------------------------------------------------

TEST_F(Win32FileSystemTest, ExistenceChecksTellFilesFromFolders) {
    folder_.WriteBytes(L"1.dcm", kImageBytes);

    EXPECT_TRUE(files_.FileExists(folder_.PathOf(L"1.dcm")));
    EXPECT_FALSE(files_.FolderExists(folder_.PathOf(L"1.dcm")));
    EXPECT_TRUE(files_.FolderExists(Target()));
    EXPECT_FALSE(files_.FileExists(Target()));
    EXPECT_FALSE(files_.FileExists(folder_.PathOf(L"missing")));
    EXPECT_FALSE(files_.FolderExists(folder_.PathOf(L"missing")));
}

// The journal's header read: at most the bytes asked for, fewer from a short file, and an image
// another program still has open for writing is read all the same.
TEST_F(Win32FileSystemTest, ReadFileStartReadsAtMostTheLimitEvenWhileAWriterHasTheFile) {
    folder_.WriteBytes(L"1.dcm", kImageBytes);
    const UniqueFile writer(::CreateFileW(folder_.PathOf(L"1.dcm").c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer);
    const auto read = [this](std::size_t limit) {
        const std::vector<std::uint8_t> bytes =
            files_.ReadFileStart(folder_.PathOf(L"1.dcm"), limit);
        return std::string(bytes.begin(), bytes.end());
    };

    EXPECT_EQ(read(4), "DICM");
    EXPECT_EQ(read(64 * 1024), kImageBytes);
    EXPECT_EQ(read(0), "");
    ExpectPlatformFailure(
        FailureOf([this] { files_.ReadFileStart(folder_.PathOf(L"missing.dcm"), 4); }),
        ERROR_FILE_NOT_FOUND);
}

TEST_F(Win32FileSystemTest, CreateFolderFailsWhenItExistsOrItsParentIsMissing) {
    files_.CreateFolder(folder_.PathOf(L"Logs"));

    EXPECT_TRUE(files_.FolderExists(folder_.PathOf(L"Logs")));
    ExpectPlatformFailure(FailureOf([&] { files_.CreateFolder(folder_.PathOf(L"Logs")); }),
                          ERROR_ALREADY_EXISTS);
    ExpectPlatformFailure(FailureOf([&] { files_.CreateFolder(folder_.PathOf(L"no\\Logs")); }),
                          ERROR_PATH_NOT_FOUND);
}

// --- Text files -------------------------------------------------------------------------------

TEST_F(Win32FileSystemTest, CreateTextFileLeavesEmptyFileInPlaceOfExistingOne) {
    folder_.WriteBytes(L"ErrorLog.log", kOtherBytes);

    files_.CreateTextFile(folder_.PathOf(L"ErrorLog.log"));
    files_.CreateTextFile(folder_.PathOf(L"new.log"));

    EXPECT_TRUE(folder_.Exists(L"ErrorLog.log"));
    EXPECT_EQ(folder_.ReadBytes(L"ErrorLog.log"), "");
    EXPECT_TRUE(folder_.Exists(L"new.log"));
}

TEST_F(Win32FileSystemTest, AppendLineWritesAnsiTextWithLineEndAfterExistingContent) {
    ASSERT_EQ(::GetACP(), 1252u) << "the expected bytes are those of code page 1252";
    folder_.WriteBytes(L"ErrorLog.log", "first\r\n");

    files_.AppendLine(folder_.PathOf(L"ErrorLog.log"), L"R\u00f6ntgen \u00dcberlauf");
    files_.AppendLine(folder_.PathOf(L"ErrorLog.log"), L"");

    EXPECT_EQ(folder_.ReadBytes(L"ErrorLog.log"),
              "first\r\nR\xf6ntgen \xdc"
              "berlauf\r\n\r\n");
}

TEST_F(Win32FileSystemTest, AppendLineCreatesMissingFileAndLeavesNothingOpen) {
    const std::wstring path = folder_.PathOf(L"ErrorLog.log");

    files_.AppendLine(path, L"line");

    EXPECT_EQ(folder_.ReadBytes(L"ErrorLog.log"), "line\r\n");
    const UniqueFile exclusive(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(exclusive) << "error " << ::GetLastError();
}

TEST_F(Win32FileSystemTest, AppendLineFailsWithSharingViolationOnFileHeldExclusively) {
    const std::wstring path = folder_.PathOf(L"ErrorLog.log");
    folder_.WriteBytes(L"ErrorLog.log", "first\r\n");
    std::optional<Failure> failure;
    {
        const UniqueFile exclusive(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(exclusive);
        failure = FailureOf([&] { files_.AppendLine(path, L"second"); });
    }
    ExpectPlatformFailure(failure, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(folder_.ReadBytes(L"ErrorLog.log"), "first\r\n");
}

// --- Win32JournalFile: the export journal's UTF-8 rows ---------------------------------------

// Append and Create; Create and Rename never replace a file whose name is taken.
TEST_F(Win32FileSystemTest, JournalAppendGivesOnlyANewOrEmptyFileItsOpeningAndNothingIsReplaced) {
    Win32JournalFile journal;
    const std::wstring path = folder_.PathOf(L"Exportprotokoll.csv");
    folder_.WriteBytes(L"empty.csv", "");

    journal.Append(path, "Kopf\r\n", "eins\r\n");
    journal.Append(path, "Kopf\r\n", "zwei\r\n");
    journal.Append(folder_.PathOf(L"empty.csv"), "Kopf\r\n", "drei\r\n");
    EXPECT_FALSE(journal.Create(path, "neu"));
    EXPECT_TRUE(journal.Create(folder_.PathOf(L"neu.csv"), "neu"));
    EXPECT_FALSE(journal.Rename(folder_.PathOf(L"neu.csv"), path));

    EXPECT_EQ(folder_.ReadBytes(L"Exportprotokoll.csv"), "Kopf\r\neins\r\nzwei\r\n");
    EXPECT_EQ(folder_.ReadBytes(L"empty.csv"), "Kopf\r\ndrei\r\n");
    EXPECT_EQ(folder_.ReadBytes(L"neu.csv"), "neu");
}

// As when Excel has the journal open: it lets others read, not write.
TEST_F(Win32FileSystemTest, JournalAppendFailsWhileAnotherProgramHoldsTheFileForWriting) {
    Win32JournalFile journal;
    const std::wstring path = folder_.PathOf(L"Exportprotokoll.csv");
    folder_.WriteBytes(L"Exportprotokoll.csv", "Kopf\r\n");
    std::optional<Failure> failure;
    {
        const UniqueFile held(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                            FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);
        failure = FailureOf([&] { journal.Append(path, "Kopf\r\n", "eins\r\n"); });
    }
    ExpectPlatformFailure(failure, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(folder_.ReadBytes(L"Exportprotokoll.csv"), "Kopf\r\n");
}

}  // namespace
}  // namespace ordovan::win32
