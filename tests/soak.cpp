// A weekend's run in minutes: the real Form1 and the real file system on the virtual clock, against
// a double of the imaging application that reacts to the typed keys, with faults drawn from a
// seeded random source. Prints one line and exits non-zero when an image went missing or was
// deleted before its copy was in the target, the run halted or got stuck, the log held a line no
// injected fault explains, or handles or private bytes grew after the first patients.

#include <windows.h>
// <windows.h> maps CopyFile to CopyFileW; the file system interface has a member of that name.
#undef CopyFile
#include <psapi.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "journal/export_journal.h"
#include "platform/key_notation.h"
#include "platform/win32/handles.h"
#include "platform/win32/image_copy.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_journal_file.h"
#include "tests/fake_window_system.h"
#include "tests/open_handles.h"
#include "tests/test_folder.h"
#include "window/form1.h"
#include "window/form1_design.h"

namespace ordovan::soak {
namespace {

namespace fs = std::filesystem;
using test::FakeWindowSystem;

constexpr int kDefaultPatients = 1000;
constexpr int kMaxSubfolders = 4;
constexpr int kMaxImages = 50;
constexpr std::uint32_t kMinImageBytes = 256;
constexpr std::uint32_t kMaxImageBytes = 16 * 1024;
constexpr int kMaxLockDelayMs = 40000;
// Percent of patients that get each fault.
constexpr int kHoldPercent = 5;
constexpr int kTargetMissingPercent = 3;
constexpr int kWatchMissingPercent = 3;
constexpr int kLateFolderPercent = 5;
constexpr int kLateImagePercent = 5;
constexpr int kReadOnlyPercent = 10;
constexpr int kHiddenPercent = 5;
// An image named like one of the previous patient's: the same image exported again, or another
// image that happens to have the same name (many applications number every export from 1).
constexpr int kSameNamePercent = 10;
// An image written into a copied subfolder while the deletion runs, up to this long after it
// began.
constexpr int kRacingImagePercent = 5;
constexpr int kMaxRaceDelayMs = 20;
// An image written into a copied subfolder right after the deletion took its lock file, while a
// reader with delete sharing (a virus scanner) keeps a deleted image listed: the folder stays
// without its lock file, and the application writes none again.
constexpr int kAfterLockImagePercent = 5;
constexpr DWORD kAfterLockReaderMs = 300;
// How often it looks whether the lock file is gone; the reader keeps the folder there meanwhile.
constexpr DWORD kLockPollMs = 1;
// Percent of subfolders with an image one folder below their own level.
constexpr int kDeeperImagePercent = 2;
constexpr int kMaxHoldMs = 900;
// An export that puts no image subfolder into the watch folder (it came too late, a message box
// stopped it): the copying tick finds nothing.
constexpr int kEmptyExportPercent = 3;
// A subfolder whose images name another patient, and one whose header cannot be read.
constexpr int kOtherPatientFolderPercent = 10;
constexpr int kUnreadableHeaderPercent = 5;
// The journal held open by another program (Excel), for up to this many ticks.
constexpr int kJournalHoldPercent = 3;
constexpr int kMaxJournalHoldTicks = 3;
// A copy cut off in the middle of an image (a power cut, the tool killed).
constexpr int kCutOffPercent = 1;
// The screen locked (Win+L, a screen saver with a password) for up to this many ticks, beginning
// up to a minute after the patient's export: before, during or after its hand-over.
constexpr int kScreenLockPercent = 2;
constexpr int kMaxScreenLockTicks = 20;
constexpr int kMaxScreenLockOffsetMs = 60000;
constexpr std::int64_t kScreenLockApartMs = 2 * form1::kPollIntervalMs;
// Room for the rows the journal should hold, taken before the drift is measured.
constexpr std::size_t kExpectedJournalBytesPerPatient = 512;
constexpr int kMaxTargetMissingTicks = 3;
// No patient needs more than a handful of ticks; this many without an export is a stuck run.
constexpr int kStuckTicks = 40;
// Handles and private bytes are compared with their value after this patient. The process takes
// about 1 MiB once, early in a run (between patients 50 and 60 with seed 2), and never again over
// the next 900 patients: the baseline comes after it.
constexpr int kWarmUpPatients = 100;
constexpr int kSampleEveryPatients = 10;
// Staff change the target box to a fresh folder after this many patients. Under Wine every new
// name costs a scan of the whole target folder (Linux names are case-sensitive, Windows' are
// not), so one folder for a whole run would make the soak quadratic in what Windows looks up in
// its folder index.
constexpr int kPatientsPerTarget = 50;
constexpr std::int64_t kMemoryToleranceBytes = 512 * 1024;

struct Options {
    int patients = kDefaultPatients;
    std::uint32_t seed = std::random_device{}();
};

// Everything about one patient the soak decides at random, drawn again from the seed whenever it
// is needed, so that the soak's own bookkeeping does not grow with the run.
struct Plan {
    int folders = 0;
    std::array<int, kMaxSubfolders + 1> images{};  // the last one is the late subfolder
    std::array<int, kMaxSubfolders + 1> lockDelayMs{};
    bool readOnly = false;
    bool hidden = false;
    enum class SameName { None, Identical, Different } sameName = SameName::None;
    std::optional<int> raceDelayMs;
    bool afterLockImage = false;
    bool lateFolder = false;
    bool lateImage = false;
    std::optional<int> holdMs;
    std::optional<int> copiesBeforeTargetGoes;
    int targetMissingTicks = 0;
    bool watchMissing = false;
    int journalHoldTicks = 0;
    std::optional<int> imagesBeforeCutOff;
    int screenLockTicks = 0;
    int screenLockOffsetMs = 0;
};

Plan PlanFor(std::uint32_t seed, int patient) {
    std::seed_seq sequence{seed, static_cast<std::uint32_t>(patient)};
    std::mt19937 random(sequence);
    const auto draw = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    const auto chance = [&](int percent) { return draw(1, 100) <= percent; };
    Plan plan;
    plan.folders = draw(1, kMaxSubfolders);
    for (int& count : plan.images)
        count = draw(1, kMaxImages);
    for (int& delay : plan.lockDelayMs)
        delay = draw(0, kMaxLockDelayMs);
    plan.readOnly = chance(kReadOnlyPercent);
    plan.hidden = chance(kHiddenPercent);
    if (patient > 1 && chance(kSameNamePercent))
        plan.sameName = chance(50) ? Plan::SameName::Identical : Plan::SameName::Different;
    if (chance(kRacingImagePercent))
        plan.raceDelayMs = draw(0, kMaxRaceDelayMs);
    plan.lateFolder = chance(kLateFolderPercent);
    plan.lateImage = chance(kLateImagePercent);
    if (chance(kHoldPercent))
        plan.holdMs = draw(1, kMaxHoldMs);
    if (chance(kTargetMissingPercent)) {
        plan.copiesBeforeTargetGoes = draw(0, plan.folders - 1);
        plan.targetMissingTicks = draw(1, kMaxTargetMissingTicks);
    }
    plan.watchMissing = chance(kWatchMissingPercent);
    if (chance(kJournalHoldPercent))
        plan.journalHoldTicks = draw(1, kMaxJournalHoldTicks);
    if (chance(kCutOffPercent))
        plan.imagesBeforeCutOff = draw(0, plan.images[0] - 1);
    if (chance(kEmptyExportPercent)) {
        // Nothing of this patient reaches the watch folder; a late subfolder still may.
        plan.folders = 0;
        plan.sameName = Plan::SameName::None;
        plan.lateImage = false;
        plan.copiesBeforeTargetGoes.reset();
        plan.targetMissingTicks = 0;
        plan.imagesBeforeCutOff.reset();
    }
    if (chance(kScreenLockPercent)) {
        plan.screenLockTicks = draw(1, kMaxScreenLockTicks);
        plan.screenLockOffsetMs = draw(0, kMaxScreenLockOffsetMs);
    }
    // Drawn last, so that the faults above draw as they did before it.
    plan.afterLockImage = chance(kAfterLockImagePercent);
    return plan;
}

// Whether the subfolder gets an image below its own level, which keeps it in the watch folder.
bool HasDeeperImage(std::uint32_t seed, int patient, int folder) {
    std::seed_seq sequence{seed, static_cast<std::uint32_t>(patient),
                           static_cast<std::uint32_t>(folder), 0x44454550u};
    std::mt19937 random(sequence);
    return std::uniform_int_distribution<int>(1, 100)(random) <= kDeeperImagePercent;
}

// What the first bytes of a subfolder's images say about the patient.
enum class Header { OwnPatient, OtherPatient, Unreadable };

Header HeaderOf(std::uint32_t seed, int patient, int folder) {
    std::seed_seq sequence{seed, static_cast<std::uint32_t>(patient),
                           static_cast<std::uint32_t>(folder), 0x48454144u};
    std::mt19937 random(sequence);
    const int draw = std::uniform_int_distribution<int>(1, 100)(random);
    if (draw <= kUnreadableHeaderPercent)
        return Header::Unreadable;
    if (draw <= kUnreadableHeaderPercent + kOtherPatientFolderPercent)
        return Header::OtherPatient;
    return Header::OwnPatient;
}

// The patient ID a subfolder's header gives; empty when it cannot be read.
std::string PatientIdOf(std::uint32_t seed, int patient, int folder) {
    switch (HeaderOf(seed, patient, folder)) {
        case Header::OwnPatient:
            return "ID" + std::to_string(patient);
        case Header::OtherPatient:
            return "ID" + std::to_string(patient) + "b";
        case Header::Unreadable:
            break;
    }
    return {};
}

// Patient and subfolder index of an image name or bytes key: every one begins with its
// subfolder's name, "P<patient>_S<folder + 1>".
std::pair<int, int> FolderOfKey(const std::wstring& key) {
    return {std::stoi(key.substr(1, 5)), key.at(8) - L'1'};
}

std::wstring Numbered(wchar_t letter, int number, int width) {
    std::wstring digits = std::to_wstring(number);
    return letter +
           std::wstring(static_cast<std::size_t>(std::max(0, width - int(digits.size()))), L'0') +
           digits;
}
// Folder index kMaxSubfolders is the late one; names are unique across the whole run.
std::wstring FolderName(int patient, int folder) {
    return Numbered(L'P', patient, 5) + L"_" + Numbered(L'S', folder + 1, 1);
}
std::wstring ImageName(int patient, int folder, int image) {
    return FolderName(patient, folder) + L"_" + Numbered(L'I', image, 3) + L".dcm";
}
std::wstring LateImageName(int patient) {
    return FolderName(patient, 0) + L"_late.dcm";
}
// The previous patient's first image's name, taken again by this patient's first subfolder.
std::wstring SameNamedImage(int patient) {
    return ImageName(patient - 1, 0, 1);
}
// What its bytes are drawn from: the name itself for the same image again, otherwise a key of
// its own.
std::wstring SameNamedBytesKey(int patient, bool identical) {
    return identical ? SameNamedImage(patient)
                     : SameNamedImage(patient) + L"|" + std::to_wstring(patient);
}
std::wstring RacingImageName(const std::wstring& folder) {
    return folder + L"_race.dcm";
}
std::wstring AfterLockImageName(const std::wstring& folder) {
    return folder + L"_afterlock.dcm";
}
// Below the subfolder's own level: "deeper\P00001_S1_deeper.dcm".
fs::path DeeperImage(int patient, int folder) {
    return fs::path(L"deeper") / (FolderName(patient, folder) + L"_deeper.dcm");
}

// A bare data set, implicit VR little endian: the patient ID (0010,0020) alone, or for an
// unreadable header a patient name (0010,0010) whose length runs past the end of the file.
std::string HeaderBytes(const std::string& patientId) {
    const auto element = [](std::uint16_t tagElement, std::uint32_t length) {
        std::string bytes("\x10\x00", 2);
        bytes += static_cast<char>(tagElement & 0xFF);
        bytes += static_cast<char>(tagElement >> 8);
        for (int shift = 0; shift < 32; shift += 8)
            bytes += static_cast<char>((length >> shift) & 0xFF);
        return bytes;
    };
    if (patientId.empty())
        return element(0x0010, 0x7FFFFFF0u);
    std::string value = patientId;
    if (value.size() % 2 != 0)
        value += ' ';
    return element(0x0020, static_cast<std::uint32_t>(value.size())) + value;
}

// An image's bytes follow from the seed and its name, so the final check can draw them again:
// its subfolder's header, then "DICM" (a tag past the patient's, where the header ends) and
// random bytes.
std::string ImageBytes(std::uint32_t seed, const std::wstring& name) {
    std::vector<std::uint32_t> words{seed};
    words.insert(words.end(), name.begin(), name.end());
    std::seed_seq sequence(words.begin(), words.end());
    std::mt19937 random(sequence);
    const auto [patient, folder] = FolderOfKey(name);
    std::string bytes = HeaderBytes(PatientIdOf(seed, patient, folder));
    const std::size_t headerSize = bytes.size();
    bytes.resize(headerSize + kMinImageBytes + random() % (kMaxImageBytes - kMinImageBytes + 1));
    std::memcpy(bytes.data() + headerSize, "DICM", 4);
    for (std::size_t at = headerSize + 4; at < bytes.size(); ++at)
        bytes[at] = static_cast<char>(random());
    return bytes;
}

std::string Utf8(const std::wstring& text) {
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0,
                                             nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), bytes.data(), length, nullptr,
                          nullptr);
    return bytes;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Move(const fs::path& from, const fs::path& to) {
    if (!::MoveFileW(from.c_str(), to.c_str()))
        throw std::runtime_error("cannot move " + from.string());
}

struct Tally {
    int patients = 0;
    long long images = 0;
    long long bytes = 0;
    int faults = 0;
    int ticks = 0;
    int failingTicks = 0;
    int lastFailingTick = -1;
    int logLines = 0;
    int unexplainedLines = 0;
    int lastLoggedTick = -1;
    int deletedUncopied = 0;
    int copyingTicks = 0;  // of this run, as the journal numbers them
    int emptyTicks = 0;
    int copiedRows = 0;
    int journalHolds = 0;
    int journalLogLines = 0;
    int cutOffs = 0;
    int screenLocks = 0;
    int screenLockLogLines = 0;
    int keptRows = 0;  // Behalten rows expected
    int afterLockImages = 0;
    int keptLines = 0;
    bool halted = false;
    bool stuck = false;
    bool finished = false;
    int lastExportTick = 0;
};

// The soak's own folders: the watch folder, the targets, and a place beside them that a folder
// is moved to while it is "missing".
struct Folders {
    test::TestFolder root;
    fs::path watch = root.PathOf(L"PACS");
    fs::path aside = root.PathOf(L"aside");

    fs::path Target(int patient) const {
        return root.PathOf(L"Ziel" + std::to_wstring((patient - 1) / kPatientsPerTarget));
    }
};

// A thread of the soak's own, joined when destroyed. A Win32 thread, not a std::thread: the C
// runtime's thread library leaves an event open for good the first time two of its threads start
// or end at once (seen within 500 such pairs), and the soak would count that as a drift.
class SoakThread {
  public:
    explicit SoakThread(std::function<void()> work)
        : work_(std::move(work)), thread_(::CreateThread(nullptr, 0, Run, this, 0, nullptr)) {
        if (!thread_)
            throw std::runtime_error("cannot start a thread");
    }
    ~SoakThread() { ::WaitForSingleObject(thread_.get(), INFINITE); }
    SoakThread(const SoakThread&) = delete;
    SoakThread& operator=(const SoakThread&) = delete;

  private:
    static DWORD WINAPI Run(void* self) {
        static_cast<SoakThread*>(self)->work_();
        return 0;
    }

    std::function<void()> work_;
    win32::UniqueKernelHandle thread_;
};

// A file opened without any sharing and closed by a thread of the soak, as a virus scanner or
// backup program would, after `holdMs` of real time or sooner when the hold is destroyed.
class BriefHold {
  public:
    BriefHold(const fs::path& file, int holdMs)
        : file_(OpenUnshared(file)),
          released_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          thread_([this, holdMs] {
              ::WaitForSingleObject(released_.get(), static_cast<DWORD>(holdMs));
              file_.reset();
          }) {}
    ~BriefHold() { ::SetEvent(released_.get()); }  // before thread_ joins
    BriefHold(const BriefHold&) = delete;
    BriefHold& operator=(const BriefHold&) = delete;

  private:
    static win32::UniqueFile OpenUnshared(const fs::path& file) {
        win32::UniqueFile handle(
            ::CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!handle)
            throw std::runtime_error("cannot hold " + file.string());
        return handle;
    }

    win32::UniqueFile file_;
    win32::UniqueKernelHandle released_;  // without it the hold ends at once
    SoakThread thread_;
};

// The copy's own calls, but for one image cut off half way, as a power cut or a killed tool leaves
// it: half its bytes where the copy was writing them, and nothing done after that.
class CutOffCopy final : public win32::CopyCalls {
  public:
    struct CutOff {};  // ends the copy as far as the soak's double, as a kill would

    std::optional<int> imagesBeforeCut;
    fs::path leftover;
    std::string leftoverBytes;

    bool CopyBytes(const std::wstring& from, const std::wstring& to,
                   win32::Heartbeat& heartbeat) override {
        if (imagesBeforeCut && (*imagesBeforeCut)-- == 0) {
            imagesBeforeCut.reset();
            leftover = to;
            leftoverBytes = ReadAll(from);
            leftoverBytes.resize(leftoverBytes.size() / 2);
            throw CutOff{};
        }
        return CopyCalls::CopyBytes(from, to, heartbeat);
    }
};

class Soak final : public FileSystem, public WindowEvents, public ErrorLog {
  public:
    explicit Soak(const Options& options) : options_(options) {
        fs::create_directories(folders_.watch);
        fs::create_directories(target_);
        window_.target = target_.wstring() + L"\\";
        window_.onTyped = [this](const FakeWindowSystem::TypedKeys& keys) { OnTyped(keys); };
        window_.Attach(*this);
        expectedJournal_.reserve(std::size_t(options.patients + 1) *
                                 kExpectedJournalBytesPerPatient);
    }

    // Runs the whole archive through, prints the line, and answers whether every check held.
    bool Run();

    // The window system's events reach Form1 through here, so that ticks can be counted.
    void cmdStart_Click() override {
        const bool starting = window_.caption == form1::kStartCaption;
        form_.cmdStart_Click();
        if (starting && window_.caption == form1::kStopCaption) {
            tally_.copyingTicks = 0;
            ExpectRow("Start;;;;;;;;;;" + Utf8(window_.target));
        }
    }
    void tmrCheck_Timer() override {
        ++tally_.ticks;
        copiesThisTick_ = 0;
        copiedThisTick_.clear();
        firstListingEmpty_.reset();
        const bool stopping = form_.StopRequested;
        // The double names the next patient's target while the tick hands over.
        const std::wstring target = window_.target;
        const std::size_t switchedOff = window_.timerSwitchedOffAt.size();
        form_.tmrCheck_Timer();
        // Only a tick that copied everything (or found nothing to copy) or acts on the stop
        // switches the timer off; so does one that goes on with a hand-over a locked screen cut
        // short, which neither lists nor copies first.
        const bool copying = copiesThisTick_ > 0 || firstListingEmpty_.value_or(false);
        if (window_.timerSwitchedOffAt.size() > switchedOff && (stopping || copying)) {
            if (stopping)
                ExpectRow("Stopp;" + std::to_string(tally_.copyingTicks) + ";;;;;;;;;");
            else
                ExpectCopyingTickRows(target);
        }
    }

    void Form_SessionLock(bool locked) override { form_.Form_SessionLock(locked); }
    void Form_Unload(UnloadReason reason) override { form_.Form_Unload(reason); }

    // Every line must come from a tick an injected fault made fail, one line per such tick. The
    // journal's line marks the start of a streak of rows that could not be written.
    void WriteErrorLog(std::wstring_view procedure, const Failure& failure) noexcept override {
        if (procedure == journal::kJournalProcedure) {
            ++tally_.journalLogLines;
            return;
        }
        if (procedure == L"tmrCheck_Timer" && failure.Number() == kKeptFolderNumber) {
            ++tally_.keptLines;  // one per Behalten row, checked at the end
            return;
        }
        // One line for each wait of a locked screen: the key it cut short, or the wait itself.
        for (ScreenLock& lock : screenLocks_) {
            if (lock.fromMs <= window_.Now() && window_.Now() < lock.untilMs && !lock.logged) {
                lock.logged = true;
                ++tally_.screenLockLogLines;
                return;
            }
        }
        ++tally_.logLines;
        const bool explained = tally_.lastFailingTick == tally_.ticks &&
                               tally_.lastLoggedTick != tally_.ticks &&
                               procedure == L"tmrCheck_Timer";
        tally_.lastLoggedTick = tally_.ticks;
        if (!explained && ++tally_.unexplainedLines == 1) {
            std::fwprintf(stderr, L"unexplained log line at tick %d: %ls # %d - %ls\n",
                          tally_.ticks, std::wstring(procedure).c_str(), failure.Number(),
                          failure.Description().c_str());
        }
    }

    // The file system Form1 sees: the real one, with the double catching up on the virtual
    // clock and the injected faults in front of it.
    std::vector<std::wstring> SubFolders(std::wstring_view folder) override;
    FolderFiles CopyFile(std::wstring_view pattern, std::wstring_view destination, bool overwrite,
                         const CopyHeartbeat& heartbeat) override;
    FolderView ViewFolder(std::wstring_view pattern) override {
        return CaughtUp().ViewFolder(pattern);
    }
    bool DeleteCopiedFolder(std::wstring_view pattern, const FolderFiles& copied,
                            std::wstring_view lastFile) override;
    void DeleteFolder(std::wstring_view folder, bool force) override {
        CaughtUp().DeleteFolder(folder, force);
    }
    bool FolderExists(std::wstring_view path) override { return CaughtUp().FolderExists(path); }
    bool FileExists(std::wstring_view path) override { return CaughtUp().FileExists(path); }
    void CreateFolder(std::wstring_view path) override { CaughtUp().CreateFolder(path); }
    void CreateTextFile(std::wstring_view path) override { CaughtUp().CreateTextFile(path); }
    void AppendLine(std::wstring_view path, std::wstring_view line) override {
        CaughtUp().AppendLine(path, line);
    }
    std::vector<std::uint8_t> ReadFileStart(std::wstring_view path, std::size_t maxBytes) override {
        return CaughtUp().ReadFileStart(path, maxBytes);
    }

  private:
    struct PendingLock {
        std::int64_t dueMs;
        fs::path folder;
    };
    struct Sample {
        std::int64_t handles;
        std::int64_t privateBytes;
    };

    // One image subfolder as the tick copied it.
    struct FolderCopy {
        std::wstring folder;
        std::wstring firstImage;
        std::size_t images = 0;
        std::uint64_t bytes = 0;
        int renamed = 0;
    };

    win32::Win32FileSystem& CaughtUp();
    void ExpectRow(const std::string& row) { expectedJournal_ += row + "\n"; }
    void ExpectCopyingTickRows(const std::wstring& tickTarget);
    void HoldJournal();
    bool CheckJournal(int& rows, int& mismatches);
    void MarkTickFailing();
    void OnTyped(const FakeWindowSystem::TypedKeys& keys);
    void ExportNext();
    void WriteFolder(int patient, int folder, int images);
    void WriteImage(const fs::path& folder, const std::wstring& name, const std::wstring& bytesKey);
    std::vector<fs::path> Uncopied(const fs::path& folder) const;
    bool DeleteWithImageAfterLock(win32::Win32FileSystem& real, std::wstring_view pattern,
                                  const FolderFiles& copied, std::wstring_view lastFile);
    bool WriteRacingImage(const fs::path& image) const;
    void CheckRacingImage(const fs::path& image, bool written, bool exportEnds);
    bool OnlyHeldFoldersLeft() const;
    int UnaccountedHeldFolders() const;
    void SampleAfterRelease();
    Sample Measure();
    void NameNewHandles(int patient) const;
    void CheckTarget(long long& lost, long long& waiting);
    int Leftovers() const;
    bool Report(std::chrono::steady_clock::time_point started);

    const Options& options_;
    Folders folders_;
    fs::path target_ = folders_.Target(1);  // the folder the target box names now
    FakeWindowSystem window_{form1::kPollIntervalMs};
    CutOffCopy copyCalls_;
    win32::Win32FileSystem real_{copyCalls_};
    // The program's journal, beside the soak's folders as if the executable lay there.
    win32::Win32JournalFile journalFile_;
    journal::ExportJournal journal_{journalFile_, real_, *this, folders_.root.Path()};
    Form1 form_{window_, *this, *this, journal_, window_, folders_.watch.wstring(), L"soak"};
    Tally tally_;
    std::vector<bool> lateImageWritten_ = std::vector<bool>(std::size_t(options_.patients) + 1);
    std::vector<bool> lateFolderWritten_ = std::vector<bool>(std::size_t(options_.patients) + 1);

    // The double of the imaging application.
    std::vector<KeyStroke> lastKeys_;
    std::vector<PendingLock> pendingLocks_;
    std::vector<win32::UniqueFile> heldLocks_;

    // Faults armed for the current patient, and those under way.
    Plan plan_;
    bool watchFaultArmed_ = false;
    int tickOfExport_ = 0;
    int copiesThisTick_ = 0;
    std::optional<bool> firstListingEmpty_;
    struct ScreenLock {
        std::int64_t fromMs;
        std::int64_t untilMs;
        bool logged = false;
    };
    std::vector<ScreenLock> screenLocks_;
    // Gesperrt and Entsperrt rows found in the journal, and whether they alternated.
    int lockRows_ = 0;
    bool lockRowsInOrder_ = true;
    std::optional<int> targetBackAtTick_;
    std::unique_ptr<BriefHold> hold_;
    std::int64_t holdEndsMs_ = 0;

    struct RacingImage {
        int patient;
        fs::path image;
    };
    std::vector<RacingImage> racingImages_;
    // Subfolders left whole for an image below their own level: their Behalten rows so far, and
    // how often they changed since they were first kept (a late image), each change one more row.
    struct Held {
        int rows = 0;
        int changes = 0;
    };
    std::map<std::wstring, Held> held_;
    int notPlain_ = 0;
    int renamed_ = 0;       // copies the tool put under a numbered name
    int falseRenames_ = 0;  // of them, where no other image held the name

    // The journal: what each copying tick copied, the rows it should hold (from Ereignis to
    // Ziel, one per line), and another program holding it open.
    std::vector<FolderCopy> copiedThisTick_;
    std::string expectedJournal_;
    win32::UniqueFile journalHold_;
    int journalHoldEndsTick_ = 0;

    std::optional<Sample> baseline_;
    std::vector<test::OpenHandle> baselineHandles_;  // to name the handles a drift adds
    int driftSamples_ = 0;                           // taken after the baseline
    Sample drift_{0, 0};
};

win32::Win32FileSystem& Soak::CaughtUp() {
    const std::int64_t now = window_.Now();
    for (auto lock = pendingLocks_.begin(); lock != pendingLocks_.end();) {
        if (lock->dueMs > now) {
            ++lock;
            continue;
        }
        // Held without delete sharing until Alt+F, A, as the application keeps its export.
        win32::UniqueFile file(::CreateFileW((lock->folder / L"LOCK.LCK").c_str(), GENERIC_WRITE,
                                             FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr));
        if (file)  // a folder already gone needs no lock
            heldLocks_.push_back(std::move(file));
        lock = pendingLocks_.erase(lock);
    }
    if (targetBackAtTick_ && tally_.ticks >= *targetBackAtTick_) {
        Move(folders_.aside, target_);
        targetBackAtTick_.reset();
    }
    if (hold_ && now >= holdEndsMs_)
        hold_.reset();  // also on the virtual clock, should a retry wait on it
    if (journalHold_ && tally_.ticks >= journalHoldEndsTick_)
        journalHold_.reset();
    return real_;
}

void Soak::MarkTickFailing() {
    if (tally_.lastFailingTick != tally_.ticks)
        ++tally_.failingTicks;
    tally_.lastFailingTick = tally_.ticks;
}

std::vector<std::wstring> Soak::SubFolders(std::wstring_view folder) {
    // Missing for one tick, from its first look on. Moved before the double catches up: Windows
    // cannot rename a folder with an open file inside, and the double holds none yet then.
    if (watchFaultArmed_ && tally_.ticks > tickOfExport_) {
        watchFaultArmed_ = false;
        ++tally_.faults;
        Move(folders_.watch, folders_.aside);
        MarkTickFailing();
        try {
            std::vector<std::wstring> subfolders = real_.SubFolders(folder);
            Move(folders_.aside, folders_.watch);
            return subfolders;
        } catch (const Failure&) {
            Move(folders_.aside, folders_.watch);
            throw;
        }
    }
    std::vector<std::wstring> subfolders = CaughtUp().SubFolders(folder);
    // Subfolders kept whole for an image below their own level are no exports: a listing of only
    // those hands over without a copy, as an empty one does.
    if (!firstListingEmpty_) {
        firstListingEmpty_ =
            std::all_of(subfolders.begin(), subfolders.end(), [this](const std::wstring& path) {
                return held_.contains(fs::path(path).filename().wstring());
            });
    }
    return subfolders;
}

FolderFiles Soak::CopyFile(std::wstring_view pattern, std::wstring_view destination, bool overwrite,
                           const CopyHeartbeat& heartbeat) {
    win32::Win32FileSystem& real = CaughtUp();
    if (plan_.copiesBeforeTargetGoes == copiesThisTick_++) {
        plan_.copiesBeforeTargetGoes.reset();
        ++tally_.faults;
        Move(target_, folders_.aside);
        targetBackAtTick_ = tally_.ticks + plan_.targetMissingTicks;
    }
    if (targetBackAtTick_)
        MarkTickFailing();
    FolderFiles copied;
    try {
        copied = real.CopyFile(pattern, destination, overwrite, heartbeat);
    } catch (const CutOffCopy::CutOff&) {
        // What the cut left behind; the next tick copies again, as a restarted tool would.
        ++tally_.faults;
        ++tally_.cutOffs;
        MarkTickFailing();
        std::ofstream(copyCalls_.leftover, std::ios::binary) << copyCalls_.leftoverBytes;
        if (plan_.readOnly)
            ::SetFileAttributesW(copyCalls_.leftover.c_str(), FILE_ATTRIBUTE_READONLY);
        throw Failure(ERROR_OPERATION_ABORTED, L"cut off");
    }
    FolderCopy copy{fs::path(pattern).parent_path().filename().wstring(),
                    copied.images.empty() ? L"" : copied.images.front().name, copied.images.size()};
    for (const CopiedImage& image : copied.images) {
        copy.bytes += image.source.size;
        if (image.copyName == image.name)
            continue;
        ++copy.renamed;
        // A real clash: a whole other image holds the name, not a part of this one.
        const std::string holder = ReadAll(fs::path(destination) / image.name);
        if (ReadAll(fs::path(pattern).parent_path() / image.name).starts_with(holder) &&
            ++falseRenames_ == 1) {
            std::fwprintf(stderr, L"renamed beside a part of itself: %ls\n", image.name.c_str());
        }
    }
    renamed_ += copy.renamed;
    copiedThisTick_.push_back(copy);
    return copied;
}

bool Soak::DeleteCopiedFolder(std::wstring_view pattern, const FolderFiles& copied,
                              std::wstring_view lastFile) {
    win32::Win32FileSystem& real = CaughtUp();
    const fs::path folder = fs::path(pattern).parent_path();
    const std::vector<fs::path> uncopied = Uncopied(folder);
    if (plan_.holdMs) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.path().extension() == L".dcm") {
                ++tally_.faults;
                hold_ = std::make_unique<BriefHold>(entry.path(), *plan_.holdMs);
                holdEndsMs_ = window_.Now() + *plan_.holdMs;
                break;
            }
        }
        plan_.holdMs.reset();
    }
    // Counted whether the deletion then fails or not: a partial one may have taken them too.
    struct CountGone {
        const std::vector<fs::path>& uncopied;
        int& deleted;
        ~CountGone() {
            for (const fs::path& image : uncopied) {
                if (!fs::exists(image) && ++deleted == 1)
                    std::fwprintf(stderr, L"deleted before its copy was in the target: %ls\n",
                                  image.c_str());
            }
        }
    } countGone{uncopied, tally_.deletedUncopied};
    if (plan_.afterLockImage && fs::exists(folder / L"LOCK.LCK")) {
        plan_.afterLockImage = false;
        return DeleteWithImageAfterLock(real, pattern, copied, lastFile);
    }
    if (!plan_.raceDelayMs)
        return real.DeleteCopiedFolder(pattern, copied, lastFile);
    // Another writer puts an image into the folder while it is being deleted.
    const int delayMs = *plan_.raceDelayMs;
    plan_.raceDelayMs.reset();
    ++tally_.faults;
    const fs::path image = folder / RacingImageName(folder.filename().wstring());
    bool written = false;
    bool deleted = false;
    {
        const SoakThread writer([&] {
            ::Sleep(static_cast<DWORD>(delayMs));
            written = WriteRacingImage(image);
        });
        deleted = real.DeleteCopiedFolder(pattern, copied, lastFile);
    }
    CheckRacingImage(image, written, true);
    return deleted;
}

// The application writes an image the moment the deletion has taken the lock file, while a
// reader with delete sharing keeps a deleted image listed, so that the folder is still there: it
// stays without its lock file, and must go with the next patient all the same.
bool Soak::DeleteWithImageAfterLock(win32::Win32FileSystem& real, std::wstring_view pattern,
                                    const FolderFiles& copied, std::wstring_view lastFile) {
    ++tally_.faults;
    const fs::path folder = fs::path(pattern).parent_path();
    const fs::path image = folder / AfterLockImageName(folder.filename().wstring());
    const fs::path lock = folder / L"LOCK.LCK";
    win32::UniqueFile reader;
    if (!copied.images.empty()) {
        reader.reset(::CreateFileW((folder / copied.images.back().name).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                   nullptr));
    }
    std::atomic<bool> done{false};
    bool written = false;
    bool deleted = false;
    {
        const SoakThread application([&] {
            while (!done && ::GetFileAttributesW(lock.c_str()) != INVALID_FILE_ATTRIBUTES)
                ::Sleep(kLockPollMs);
            if (!done)
                written = WriteRacingImage(image);
            // Let go at the latest after a scanner's usual look; the deletion waits for it.
            ::Sleep(written ? 0 : kAfterLockReaderMs);
            reader.reset();
        });
        deleted = real.DeleteCopiedFolder(pattern, copied, lastFile);
        done = true;
    }
    tally_.afterLockImages += written ? 1 : 0;
    CheckRacingImage(image, written, false);
    return deleted;
}

// Written where the folder still is; a folder already gone takes nothing. Shared as a C stream
// would share it, but written without the C runtime, whose locks are not for this thread.
bool Soak::WriteRacingImage(const fs::path& image) const {
    const std::string bytes = ImageBytes(options_.seed, image.filename().wstring());
    const win32::UniqueFile file(::CreateFileW(image.c_str(), GENERIC_WRITE,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file &&
           ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr) &&
           written == bytes.size();
}

// A racing image written in time must still be in the watch folder: it was never copied. Its
// folder waits there for the next patient; should the deletion have taken the folder's lock file
// before the image came, the writer may finish its export as the application does, with one.
void Soak::CheckRacingImage(const fs::path& image, bool written, bool exportEnds) {
    if (!written)
        return;
    ++tally_.images;
    racingImages_.push_back({tally_.patients, image});
    if (!fs::exists(image) && ++tally_.deletedUncopied == 1)
        std::fwprintf(stderr, L"deleted before its copy was in the target: %ls\n", image.c_str());
    const fs::path lock = image.parent_path() / L"LOCK.LCK";
    if (exportEnds && fs::exists(image.parent_path()) && !fs::exists(lock))
        pendingLocks_.push_back({window_.Now(), image.parent_path()});
}

// Whether the target holds the bytes under the name, or under one of the numbered names an image
// gets when another image holds its name: "name (2).dcm", "name (3).dcm", ...
std::optional<fs::path> InTargetUnderSomeName(const fs::path& target, const std::wstring& name,
                                              const std::string& bytes) {
    const fs::path plain(name);
    for (int number = 1;; ++number) {
        const fs::path path =
            number == 1 ? target / plain
                        : target / (plain.stem().wstring() + L" (" + std::to_wstring(number) +
                                    L")" + plain.extension().wstring());
        const std::string there = ReadAll(path);
        if (there == bytes)
            return path;
        if (there.empty() && !fs::exists(path))
            return std::nullopt;
    }
}

// A copy is a plain file: a read-only or hidden one would make Windows refuse the next image of
// its name.
bool IsPlain(const fs::path& copy) {
    const DWORD attributes = ::GetFileAttributesW(copy.c_str());
    return attributes == INVALID_FILE_ATTRIBUTES ||
           (attributes &
            (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0;
}

// The folder's images whose copy is not in the target, byte for byte.
std::vector<fs::path> Soak::Uncopied(const fs::path& folder) const {
    std::vector<fs::path> uncopied;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == L".dcm" &&
            !InTargetUnderSomeName(target_, entry.path().filename().wstring(),
                                   ReadAll(entry.path()))) {
            uncopied.push_back(entry.path());
        }
    }
    return uncopied;
}

// The imaging application: Home, Shift+End, Enter exports the next patient; Alt+F, A lets go of
// the export's files.
void Soak::OnTyped(const FakeWindowSystem::TypedKeys& keys) {
    static const std::vector<KeyStroke> shiftEnd = ParseKeyString(L"+{END}");
    static const std::vector<KeyStroke> enter = ParseKeyString(L"{ENTER}");
    static const std::vector<KeyStroke> altF = ParseKeyString(L"%{F}");
    static const std::vector<KeyStroke> a = ParseKeyString(L"{A}");
    if (keys.strokes == enter && lastKeys_ == shiftEnd) {
        ExportNext();
    } else if (keys.strokes == altF && plan_.lateImage) {
        // Written after the copy into a folder that was copied; one kept whole has changed.
        plan_.lateImage = false;
        ++tally_.faults;
        if (HasDeeperImage(options_.seed, tally_.patients, 0))
            ++held_[FolderName(tally_.patients, 0)].changes;
        WriteImage(folders_.watch / FolderName(tally_.patients, 0), LateImageName(tally_.patients),
                   LateImageName(tally_.patients));
        lateImageWritten_[std::size_t(tally_.patients)] = true;
    } else if (keys.strokes == a && lastKeys_ == altF) {
        heldLocks_.clear();
        SampleAfterRelease();
        if (plan_.lateFolder) {
            plan_.lateFolder = false;
            ++tally_.faults;
            WriteFolder(tally_.patients, kMaxSubfolders, plan_.images[kMaxSubfolders]);
            lateFolderWritten_[std::size_t(tally_.patients)] = true;
        }
    }
    lastKeys_ = keys.strokes;
}

void Soak::ExportNext() {
    tally_.lastExportTick = tally_.ticks;
    if (tally_.patients == options_.patients) {
        // The archive is through; stop once the watch folder holds only subfolders kept whole,
        // as staff would.
        if (OnlyHeldFoldersLeft())
            window_.ScheduleClick(window_.Now());
        plan_ = Plan{};
        journalHold_.reset();  // the last rows must reach the file before the program ends
        return;
    }
    const int patient = ++tally_.patients;
    if (folders_.Target(patient) != target_) {
        target_ = folders_.Target(patient);
        fs::create_directory(target_);
        window_.target = target_.wstring() + L"\\";
    }
    plan_ = PlanFor(options_.seed, patient);
    for (int folder = 0; folder < plan_.folders; ++folder)
        WriteFolder(patient, folder, plan_.images[std::size_t(folder)]);
    if (plan_.sameName != Plan::SameName::None) {
        WriteImage(folders_.watch / FolderName(patient, 0), SameNamedImage(patient),
                   SameNamedBytesKey(patient, plan_.sameName == Plan::SameName::Identical));
    }
    tally_.faults += (plan_.readOnly ? 1 : 0) + (plan_.hidden ? 1 : 0) +
                     (plan_.sameName != Plan::SameName::None ? 1 : 0);
    // Only while the double holds no file in the watch folder: its previous late subfolder does.
    watchFaultArmed_ = plan_.watchMissing && !PlanFor(options_.seed, patient - 1).lateFolder;
    tickOfExport_ = tally_.ticks;
    if (plan_.journalHoldTicks > 0)
        HoldJournal();
    copyCalls_.imagesBeforeCut = plan_.imagesBeforeCutOff;
    const std::int64_t lockFromMs = window_.Now() + plan_.screenLockOffsetMs;
    // Apart from the last lock by more than a hand-over, so that each is a wait of its own; and
    // not after the last patient, whose run may have ended by then.
    if (plan_.screenLockTicks > 0 && patient < options_.patients &&
        (screenLocks_.empty() || lockFromMs > screenLocks_.back().untilMs + kScreenLockApartMs)) {
        // Keys typed meanwhile are refused, as Windows refuses them on a locked workstation.
        screenLocks_.push_back({lockFromMs, lockFromMs + std::int64_t{plan_.screenLockTicks} *
                                                             form1::kPollIntervalMs});
        window_.ScheduleLock(screenLocks_.back().fromMs, screenLocks_.back().untilMs);
        ++tally_.faults;
        ++tally_.screenLocks;
    }
}

// Another program opens the journal for reading and lets nobody write it, as Excel does, for a
// few ticks: the rows of those ticks wait and must all arrive, in order, once it lets go.
void Soak::HoldJournal() {
    if (journalHold_)
        return;
    journalHold_ = win32::UniqueFile(
        ::CreateFileW((fs::path(folders_.root.Path()) / journal::kJournalFileName).c_str(),
                      GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!journalHold_)
        throw std::runtime_error("cannot hold the journal");
    ++tally_.faults;
    ++tally_.journalHolds;
    journalHoldEndsTick_ = tally_.ticks + plan_.journalHoldTicks;
}

// The rows of a tick that copied: one Kopiert row per patient ID among its subfolders (one per
// subfolder whose header cannot be read), in the order they were first copied, or one Kein Export
// row when it found no subfolder.
void Soak::ExpectCopyingTickRows(const std::wstring& tickTarget) {
    const std::string number = std::to_string(++tally_.copyingTicks);
    const std::string target = Utf8(tickTarget);
    if (copiedThisTick_.empty()) {
        ++tally_.emptyTicks;
        ExpectRow("Kein Export;" + number + ";;;;;0;0;0;;" + target);
        return;
    }
    struct Row {
        std::string id;
        int folders = 0;
        std::size_t images = 0;
        std::uint64_t bytes = 0;
        int renamed = 0;
    };
    std::vector<Row> rows;
    for (const FolderCopy& copy : copiedThisTick_) {
        const auto [patient, folder] = FolderOfKey(copy.firstImage);
        const std::string id = PatientIdOf(options_.seed, patient, folder);
        auto row = std::find_if(rows.begin(), rows.end(),
                                [&id](const Row& r) { return !id.empty() && r.id == id; });
        if (row == rows.end())
            row = rows.insert(rows.end(), Row{id});
        ++row->folders;
        row->images += copy.images;
        row->bytes += copy.bytes;
        row->renamed += copy.renamed;
    }
    // The ID opens as text: the formula ="<ID>", quoted.
    const auto asText = [](const std::string& id) {
        return id.empty() ? id : "\"=\"\"" + id + "\"\"\"";
    };
    for (const Row& row : rows) {
        ++tally_.copiedRows;
        const std::string id = asText(row.id);
        ExpectRow("Kopiert;" + number + ";" + id + ";;;;" + std::to_string(row.folders) + ";" +
                  std::to_string(row.images) + ";" + std::to_string(row.bytes) + ";" +
                  std::to_string(row.renamed) + ";" + target);
    }
    // Then one Behalten row per subfolder with an image below its own level.
    for (const FolderCopy& copy : copiedThisTick_) {
        const auto [patient, folder] = FolderOfKey(copy.folder);
        if (!HasDeeperImage(options_.seed, patient, folder))
            continue;
        const auto [imagePatient, imageFolder] = FolderOfKey(copy.firstImage);
        ++tally_.keptRows;
        ++held_[copy.folder].rows;
        ExpectRow("Behalten;" + number + ";" +
                  asText(PatientIdOf(options_.seed, imagePatient, imageFolder)) + ";;;;1;;;;" +
                  target);
    }
}

// The watch folder holds nothing but subfolders kept whole, each with its rows up to date.
bool Soak::OnlyHeldFoldersLeft() const {
    for (const auto& entry : fs::directory_iterator(folders_.watch)) {
        const auto held = held_.find(entry.path().filename().wstring());
        if (held == held_.end() || held->second.rows != 1 + held->second.changes)
            return false;
    }
    return true;
}

// Subfolders with an image below their own level that did not get one Behalten row, and one
// more per change, or whose image below is gone.
int Soak::UnaccountedHeldFolders() const {
    int unaccounted = 0;
    const auto check = [&](int patient, int folder) {
        const fs::path deeper =
            folders_.watch / FolderName(patient, folder) / DeeperImage(patient, folder);
        const auto held = held_.find(FolderName(patient, folder));
        if (!HasDeeperImage(options_.seed, patient, folder))
            return;
        if (held == held_.end() || held->second.rows != 1 + held->second.changes ||
            ReadAll(deeper) != ImageBytes(options_.seed, deeper.filename().wstring())) {
            if (++unaccounted == 1)
                std::fwprintf(stderr, L"kept subfolder not accounted for: %ls\n", deeper.c_str());
        }
    };
    for (int patient = 1; patient <= tally_.patients; ++patient) {
        for (int folder = 0; folder < PlanFor(options_.seed, patient).folders; ++folder)
            check(patient, folder);
        if (lateFolderWritten_[std::size_t(patient)])
            check(patient, kMaxSubfolders);
    }
    return unaccounted;
}

// The journal's rows, from Ereignis to Ziel, against those expected; the first that differs is
// printed.
bool Soak::CheckJournal(int& rows, int& mismatches) {
    std::istringstream file(ReadAll(fs::path(folders_.root.Path()) / journal::kJournalFileName));
    std::istringstream expected(expectedJournal_);
    std::string line;
    std::getline(file, line);  // the header
    std::string wanted;
    while (std::getline(file, line)) {
        ++rows;
        // Run, date and time before, Hinweis after: none of the soak's fields holds a ';'.
        const std::size_t time = line.find(';', line.find(';', line.find(';') + 1) + 1);
        const std::string row = line.substr(time + 1, line.rfind(';') - time - 1);
        // The waits for a locked screen: Gesperrt, then Entsperrt, once per lock.
        const bool locked = row.starts_with("Gesperrt;");
        if (locked || row.starts_with("Entsperrt;")) {
            lockRowsInOrder_ = lockRowsInOrder_ && locked == (lockRows_++ % 2 == 0);
            --rows;
            continue;
        }
        if (!std::getline(expected, wanted) || row != wanted) {
            if (++mismatches == 1)
                std::fprintf(stderr, "journal row %d: %s, expected %s\n", rows, row.c_str(),
                             wanted.c_str());
        }
    }
    while (std::getline(expected, wanted)) {
        if (++mismatches == 1)
            std::fprintf(stderr, "journal row missing: %s\n", wanted.c_str());
    }
    return mismatches == 0;
}

void Soak::WriteFolder(int patient, int folder, int images) {
    const fs::path path = folders_.watch / FolderName(patient, folder);
    fs::create_directory(path);
    for (int image = 1; image <= images; ++image)
        WriteImage(path, ImageName(patient, folder, image), ImageName(patient, folder, image));
    if (HasDeeperImage(options_.seed, patient, folder)) {
        const fs::path deeper = DeeperImage(patient, folder);
        fs::create_directory(path / deeper.parent_path());
        WriteImage(path / deeper.parent_path(), deeper.filename(), deeper.filename());
    }
    pendingLocks_.push_back({window_.Now() + plan_.lockDelayMs[std::size_t(folder)], path});
}

void Soak::WriteImage(const fs::path& folder, const std::wstring& name,
                      const std::wstring& bytesKey) {
    const std::string bytes = ImageBytes(options_.seed, bytesKey);
    std::ofstream(folder / name, std::ios::binary)
        .write(bytes.data(), std::streamsize(bytes.size()));
    const DWORD attributes =
        (plan_.readOnly ? FILE_ATTRIBUTE_READONLY : 0) | (plan_.hidden ? FILE_ATTRIBUTE_HIDDEN : 0);
    if (attributes != 0)
        ::SetFileAttributesW((folder / name).c_str(), attributes);
    ++tally_.images;
    tally_.bytes += static_cast<long long>(bytes.size());
}

// Compared at the same point of every patient: after the release, with no lock held and no
// hold under way.
void Soak::SampleAfterRelease() {
    const int patient = tally_.patients;
    if (patient < kWarmUpPatients ||
        (patient % kSampleEveryPatients != 0 && patient != options_.patients)) {
        return;
    }
    hold_.reset();
    const Sample now = Measure();
    if (!baseline_) {
        baseline_ = now;
        baselineHandles_ = test::OpenHandles();
        return;
    }
    ++driftSamples_;
    if (now.handles - baseline_->handles > drift_.handles)
        NameNewHandles(patient);
    drift_.handles = std::max(drift_.handles, now.handles - baseline_->handles);
    drift_.privateBytes = std::max(drift_.privateBytes, now.privateBytes - baseline_->privateBytes);
}

// A drift names its handles, so that a leak can be told from something opened once for good.
void Soak::NameNewHandles(int patient) const {
    for (const test::OpenHandle& handle : test::OpenHandles()) {
        if (handle.value != reinterpret_cast<std::uintptr_t>(journalHold_.get()) &&
            std::find(baselineHandles_.begin(), baselineHandles_.end(), handle) ==
                baselineHandles_.end()) {
            std::fwprintf(stderr,
                          L"handle after patient %d, not there after patient %d: %#llx %ls %ls\n",
                          patient, kWarmUpPatients, static_cast<unsigned long long>(handle.value),
                          handle.type.c_str(), handle.name.c_str());
        }
    }
}

Soak::Sample Soak::Measure() {
    // PagefileUsage is the commit charge, what Task Manager calls private bytes; Wine 8 fills it
    // (from the process's resident anonymous memory) but leaves PrivateUsage at 0.
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    // The soak's own hold on the journal (another program's, for a few ticks) may last past
    // Alt+F, A, and so into a sample: that handle is not the program's.
    const std::int64_t soakHandles = journalHold_ ? 1 : 0;
    const Sample sample{static_cast<std::int64_t>(test::OpenHandleCount()) - soakHandles,
                        ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)
                            ? static_cast<std::int64_t>(counters.PagefileUsage)
                            : 0};
    // A count of nothing would make the drift checks pass whatever leaks.
    if (sample.handles == 0 || sample.privateBytes == 0)
        throw std::runtime_error("cannot measure handles or private bytes");
    return sample;
}

bool Soak::Run() {
    const auto started = std::chrono::steady_clock::now();
    window_.ScheduleClick(0);
    for (;;) {
        window_.RunUntil(window_.Now() + form1::kPollIntervalMs);
        if (!window_.timerEnabled) {
            (window_.caption == form1::kStartCaption ? tally_.finished : tally_.halted) = true;
            break;
        }
        if (tally_.ticks - tally_.lastExportTick > kStuckTicks) {
            tally_.stuck = true;
            break;
        }
        // What the fake window system records would grow with the run.
        window_.typed.clear();
        window_.ticksAt.clear();
        window_.clicksAt.clear();
        window_.timerSwitchedOnAt.clear();
        window_.timerSwitchedOffAt.clear();
    }
    hold_.reset();
    journalHold_.reset();
    if (targetBackAtTick_)
        Move(folders_.aside, target_);
    return Report(started);
}

// Every image the double exported must be in the target, byte for byte, under its name or a
// numbered one, as a plain file. One still in the watch folder is waiting (the run ended early);
// one in neither place is lost.
void Soak::CheckTarget(long long& lost, long long& waiting) {
    const auto check = [&](int patient, const fs::path& original, const std::wstring& bytesKey) {
        // A subfolder left for the next patient may have gone to the next target.
        const std::string bytes = ImageBytes(options_.seed, bytesKey);
        const std::wstring name = original.filename().wstring();
        for (const fs::path& target :
             {folders_.Target(patient), folders_.Target(patient + kPatientsPerTarget)}) {
            if (const auto copy = InTargetUnderSomeName(target, name, bytes)) {
                if (!IsPlain(*copy) && ++notPlain_ == 1)
                    std::fwprintf(stderr, L"copy not plain: %ls\n", copy->c_str());
                return;
            }
        }
        ++(fs::exists(original) ? waiting : lost);
    };
    const auto in = [this](int patient, int folder) {
        return folders_.watch / FolderName(patient, folder);
    };
    for (int patient = 1; patient <= tally_.patients; ++patient) {
        const Plan plan = PlanFor(options_.seed, patient);
        for (int folder = 0; folder < plan.folders; ++folder) {
            for (int image = 1; image <= plan.images[std::size_t(folder)]; ++image) {
                const std::wstring name = ImageName(patient, folder, image);
                check(patient, in(patient, folder) / name, name);
            }
        }
        if (plan.sameName != Plan::SameName::None) {
            check(patient, in(patient, 0) / SameNamedImage(patient),
                  SameNamedBytesKey(patient, plan.sameName == Plan::SameName::Identical));
        }
        if (lateImageWritten_[std::size_t(patient)])
            check(patient, in(patient, 0) / LateImageName(patient), LateImageName(patient));
        if (lateFolderWritten_[std::size_t(patient)]) {
            for (int image = 1; image <= plan.images[kMaxSubfolders]; ++image) {
                const std::wstring name = ImageName(patient, kMaxSubfolders, image);
                check(patient, in(patient, kMaxSubfolders) / name, name);
            }
        }
    }
    for (const RacingImage& racing : racingImages_)
        check(racing.patient, racing.image, racing.image.filename().wstring());
}

// Files in the targets that are not images: what a cut-off copy left and no later copy removed.
int Soak::Leftovers() const {
    int leftovers = 0;
    for (const auto& folder : fs::directory_iterator(folders_.root.Path())) {
        if (!folder.path().filename().wstring().starts_with(L"Ziel"))
            continue;
        for (const auto& file : fs::directory_iterator(folder))
            leftovers += file.path().extension() != L".dcm" ? 1 : 0;
    }
    return leftovers;
}

bool Soak::Report(std::chrono::steady_clock::time_point started) {
    long long lost = 0;
    long long waiting = 0;
    CheckTarget(lost, waiting);
    // Still there at the end, or gone again: tells a handle kept for good from a passing one.
    if (drift_.handles > 0)
        NameNewHandles(tally_.patients);
    const int leftovers = Leftovers();
    int journalRows = 0;
    int journalMismatches = 0;
    const bool journalHolds = CheckJournal(journalRows, journalMismatches) &&
                              tally_.journalLogLines <= tally_.journalHolds;
    const bool locksHold = lockRowsInOrder_ && lockRows_ == 2 * tally_.screenLocks &&
                           tally_.screenLockLogLines == tally_.screenLocks;
    const int unaccountedHeld = UnaccountedHeldFolders();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const bool passed = tally_.finished && tally_.patients == options_.patients && lost == 0 &&
                        waiting == 0 && tally_.deletedUncopied == 0 && notPlain_ == 0 &&
                        falseRenames_ == 0 && leftovers == 0 && tally_.unexplainedLines == 0 &&
                        tally_.logLines == tally_.failingTicks && journalHolds && locksHold &&
                        unaccountedHeld == 0 && tally_.keptLines == tally_.keptRows &&
                        (driftSamples_ > 0 || options_.patients <= kWarmUpPatients) &&
                        drift_.handles <= 0 && drift_.privateBytes <= kMemoryToleranceBytes;
    // Drift is measured only once the run got past its warm-up; a run of 100 patients (CI's)
    // checks everything else.
    const std::string drift =
        driftSamples_ > 0
            ? "handle drift " + std::to_string(drift_.handles) + " (of " +
                  std::to_string(baseline_->handles) + " after patient " +
                  std::to_string(kWarmUpPatients) + "), private bytes drift " +
                  std::to_string(drift_.privateBytes / 1024) + " KiB (of " +
                  std::to_string(baseline_->privateBytes / 1024) + " KiB)"
            : "drift not measured (from patient " + std::to_string(kWarmUpPatients + 1) + " on)";
    std::printf(
        "soak seed %u: patients %d, images %lld, bytes %lld, faults injected %d, log lines "
        "%d (failing ticks %d, unexplained %d), halts %d, stuck %d, copies cut off %d, deleted "
        "uncopied %d, "
        "lost images %lld (not yet copied %lld), copies not plain %d, renamed copies %d (beside "
        "a part of themselves %d), leftovers in the targets %d, "
        "journal rows %d (copying ticks %d, Kopiert %d, Kein Export %d, Behalten %d, mismatched "
        "%d, held open %d times, log lines %d), screen locks %d (rows %d%s, log lines %d), "
        "images after the lock file %d, kept whole %zu (log lines %d, unaccounted %d), %s, wall "
        "time %.0f s: %s\n",
        options_.seed, tally_.patients, tally_.images, tally_.bytes, tally_.faults, tally_.logLines,
        tally_.failingTicks, tally_.unexplainedLines, tally_.halted ? 1 : 0, tally_.stuck ? 1 : 0,
        tally_.cutOffs, tally_.deletedUncopied, lost, waiting, notPlain_, renamed_, falseRenames_,
        leftovers, journalRows, tally_.copyingTicks, tally_.copiedRows, tally_.emptyTicks,
        tally_.keptRows, journalMismatches, tally_.journalHolds, tally_.journalLogLines,
        tally_.screenLocks, lockRows_, lockRowsInOrder_ ? "" : " out of order",
        tally_.screenLockLogLines, tally_.afterLockImages, held_.size(), tally_.keptLines,
        unaccountedHeld, drift.c_str(), seconds, passed ? "PASS" : "FAIL");
    return passed;
}

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const unsigned long value = std::stoul(argv[i + 1]);
        if (name == "--patients" && value > 0)
            options.patients = static_cast<int>(value);
        else if (name == "--seed")
            options.seed = static_cast<std::uint32_t>(value);
        else
            return std::nullopt;
    }
    if (argc % 2 == 0)
        return std::nullopt;
    return options;
}

}  // namespace
}  // namespace ordovan::soak

int main(int argc, char** argv) {
    try {
        const auto options = ordovan::soak::ParseOptions(argc, argv);
        if (!options) {
            std::fprintf(stderr, "usage: ordovan_soak [--patients N] [--seed S]\n");
            return 2;
        }
        std::printf("soak: %d patients, seed %u\n", options->patients, options->seed);
        std::fflush(stdout);
        ordovan::soak::Soak soak(*options);
        return soak.Run() ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "soak aborted: %s\n", error.what());
        return 3;
    }
}
