#include "driver/PackageInstall.h"
#include "payload/EntryExpansion.h"
#include "payload/EntryPlacement.h"

#include "core/UserMessages.h"

#include "core/PathUtilities.h"
#include "core/ZorvaneException.h"
#include "core/SetupState.h"
#include "payload/InstallLog.h"
#include "resource.h"
#include "support/PackageBuilder.h"
#include "support/ScopedTempDir.h"
#include "ui/ProgressDisplay.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

// Bytes of every value in an order no run-length trick reproduces.
std::string Pattern(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251 + seed) & 0xFF);
    return bytes;
}

// One of the programs built beside this test that differ only in their file version.
std::string VersionedFile(const char* version)
{
    char path[MAX_PATH];
    std::string name = std::string("versioned-") + version + ".exe";
    EXPECT_TRUE(PathBesideProgram(path, name.c_str(), true));
    return ReadTestFile(path);
}

TEST(ReadFileVersion, GivesBothHalvesOfTheFixedFileVersion)
{
    ScopedTempDir dir;
    struct {
        const char* Version;
        DWORD High;
        DWORD Low;
    } cases[] = {{"1.2.3.4", 0x00010002, 0x00030004}, {"40000.0.0.0", 0x9C400000, 0}};
    for (const auto& want : cases) {
        std::string path = dir.Join(std::string("v") + want.Version + ".exe");
        WriteTestFile(path, VersionedFile(want.Version));
        DWORD high = 0xdeadbeef;
        DWORD low = 0xdeadbeef;
        EXPECT_TRUE(ReadFileVersion(path.c_str(), &high, &low)) << want.Version;
        EXPECT_EQ(high, want.High) << want.Version;
        EXPECT_EQ(low, want.Low) << want.Version;
    }
}

TEST(ReadFileVersion, FailsForFilesWithoutAVersionAndForFolders)
{
    ScopedTempDir dir;
    WriteTestFile(dir.Join("Readme.txt"), "no version here\r\n");
    WriteTestFile(dir.Join("Empty.dat"), "");
    ASSERT_TRUE(CreateDirectoryA(dir.Join("Folder.exe").c_str(), nullptr));
    for (const char* name : {"Readme.txt", "Empty.dat", "Folder.exe", "Missing.exe"}) {
        DWORD high = 0xdeadbeef;
        DWORD low = 0xdeadbeef;
        EXPECT_FALSE(ReadFileVersion(dir.Join(name).c_str(), &high, &low)) << name;
        EXPECT_EQ(high, 0xdeadbeefu) << name;
        EXPECT_EQ(low, 0xdeadbeefu) << name;
    }
}

// What the progress dialog showed right after extraction changed one of its controls, read back
// from the controls themselves, with the temporaries that existed at that moment.
struct DialogSnapshot {
    std::string Status;
    int Position;
    int StoredTemporaries;
    int ExpandedTemporaries;
};

class PackageExtractionTest;
PackageExtractionTest* Recorder = nullptr;
WNDPROC StatusProcedure = nullptr;
WNDPROC BarProcedure = nullptr;

// Extraction into a destination inside the test's own folder, with the temporary folder
// redirected there too, and the real progress dialog watched control by control.
class PackageExtractionTest : public testing::Test {
public:
    std::vector<DialogSnapshot> StatusChanges;
    std::vector<DialogSnapshot> BarChanges;

    DialogSnapshot Snapshot()
    {
        char status[128];
        GetDlgItemTextA(Dialog, IDC_PROGRESS_STATUS, status, sizeof status);
        DialogSnapshot snapshot = {status, BarPosition(), CountTemporaries("~vt"), CountTemporaries("~vx")};
        return snapshot;
    }

protected:
    void SetUp() override
    {
        Destination = Dir.Join("Program Files\\TALVIQ\\Project Zorvane PE");
        TemporaryFolder = Dir.Join("temp");
        PackagePath = Dir.Join("Setup.z");
        LogPath = Destination + "\\" + InstallLogName;
        ASSERT_TRUE(CreateFolderChain(Destination.c_str()));
        ASSERT_TRUE(CreateDirectoryA(TemporaryFolder.c_str(), nullptr));
        lstrcpynA(DestinationFolder, Destination.c_str(), MAX_PATH);
        SavedTmp = Environment("TMP");
        SavedTemp = Environment("TEMP");
        UseTemporaryFolder(TemporaryFolder);
        char temporary[MAX_PATH];
        GetTempPathA(sizeof temporary, temporary);
        ASSERT_EQ(std::string(temporary), TemporaryFolder + "\\");

        ASSERT_NE(Dialog, nullptr);
        SetProgressStatus(Dialog, "");
        SetProgressPosition(Dialog, 0);
        Recorder = this;
    }

    // One dialog for the whole suite: under Wine without a window manager, destroying a framed
    // window waits two seconds for a withdrawal that never comes.
    static void SetUpTestSuite()
    {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        Dialog = CreateProgressDisplay(nullptr);
        StatusProcedure = Watch(IDC_PROGRESS_STATUS, WatchStatus);
        BarProcedure = Watch(IDC_PROGRESS_BAR, WatchBar);
    }

    static void TearDownTestSuite()
    {
        DestroyWindow(Dialog);
        Dialog = nullptr;
    }

    void TearDown() override
    {
        Recorder = nullptr;
        Restore("TMP", SavedTmp);
        Restore("TEMP", SavedTemp);
    }

    // Writes the package and extracts it, logging to log or else to LogPath; 0 when extraction
    // returned, else the error's code.
    int Extract(const std::string& package, bool withDialog = true, FileWriter* log = nullptr,
                bool (*stopRequested)() = nullptr)
    {
        WriteTestFile(PackagePath, package);
        FileReader reader(PackagePath.c_str());
        std::unique_ptr<FileWriter> ownLog(log == nullptr ? new FileWriter(LogPath.c_str()) : nullptr);
        try {
            ExtractPackage(withDialog ? Dialog : nullptr, reader, log == nullptr ? *ownLog : *log,
                           stopRequested);
            return 0;
        } catch (const ZorvaneException& error) {
            ErrorFile = error.FileName;
            SystemError = error.SystemError;
            return error.ErrorCode;
        }
    }

    std::string Target(const std::string& relative) const { return Destination + "\\" + relative; }
    std::string Log() const { return ReadTestFile(LogPath); }
    int BarPosition()
    {
        return static_cast<int>(SendDlgItemMessageA(Dialog, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0));
    }
    std::string Status()
    {
        char status[128];
        GetDlgItemTextA(Dialog, IDC_PROGRESS_STATUS, status, sizeof status);
        return status;
    }

    int CountTemporaries(const char* prefix) const
    {
        int count = 0;
        for (const std::string& name : ListTree(TemporaryFolder))
            count += name.compare(0, 3, prefix) == 0;
        return count;
    }

    void UseTemporaryFolder(const std::string& folder)
    {
        SetEnvironmentVariableA("TMP", folder.c_str());
        SetEnvironmentVariableA("TEMP", folder.c_str());
    }

    ScopedTempDir Dir;
    std::string Destination;
    std::string TemporaryFolder;
    std::string PackagePath;
    std::string LogPath;
    static HWND Dialog;
    std::string ErrorFile;
    DWORD SystemError = 0;

private:
    static std::string Environment(const char* name)
    {
        char value[MAX_PATH];
        DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
        return length > 0 && length < sizeof value ? value : "";
    }

    static void Restore(const char* name, const std::string& value)
    {
        SetEnvironmentVariableA(name, value.empty() ? nullptr : value.c_str());
    }

    static WNDPROC Watch(int controlId, WNDPROC watcher)
    {
        return reinterpret_cast<WNDPROC>(SetWindowLongPtrA(GetDlgItem(Dialog, controlId), GWLP_WNDPROC,
                                                           reinterpret_cast<LONG_PTR>(watcher)));
    }

    static LRESULT CALLBACK WatchStatus(HWND control, UINT message, WPARAM wParam, LPARAM lParam)
    {
        LRESULT result = CallWindowProcA(StatusProcedure, control, message, wParam, lParam);
        if (message == WM_SETTEXT && Recorder != nullptr)
            Recorder->StatusChanges.push_back(Recorder->Snapshot());
        return result;
    }

    static LRESULT CALLBACK WatchBar(HWND control, UINT message, WPARAM wParam, LPARAM lParam)
    {
        LRESULT result = CallWindowProcA(BarProcedure, control, message, wParam, lParam);
        if (message == PBM_SETPOS && Recorder != nullptr)
            Recorder->BarChanges.push_back(Recorder->Snapshot());
        return result;
    }

    std::string SavedTmp;
    std::string SavedTemp;
};

HWND PackageExtractionTest::Dialog = nullptr;

TEST_F(PackageExtractionTest, InstallsCompressedStoredAndEmptyEntriesByteForByteAndLogsThem)
{
    std::string program = Pattern(5000, 3);
    std::string readme = "Read me first.\r\n" + Pattern(256, 0);
    std::string package =
        PackageEntryBytes("tpz2.exe", "TALVIQ Project Zorvane 2 PE Demo", SzddLiterals(program, 'e')) +
        PackageEntryBytes("Readme.txt", "Read me", readme) + PackageEntryBytes("Empty.dat", "Empty.dat", "");
    ASSERT_EQ(Extract(package), 0) << ErrorFile;
    EXPECT_TRUE(ReadTestFile(Target("tpz2.exe")) == program);
    EXPECT_TRUE(ReadTestFile(Target("Readme.txt")) == readme);
    EXPECT_TRUE(FileExists(Target("Empty.dat")));
    EXPECT_EQ(ReadTestFile(Target("Empty.dat")), "");
    EXPECT_EQ(Log(), "+" + Target("tpz2.exe") + "\r\n+" + Target("Readme.txt") + "\r\n+" +
                         Target("Empty.dat") + "\r\n");
    EXPECT_EQ(ListTree(TemporaryFolder), std::vector<std::string>());
}

// A clock that moves one millisecond each time it is read: what the extraction shows no longer
// depends on how fast this machine writes.
DWORD SlowClockNow = 0;
DWORD WINAPI SlowClock() { return ++SlowClockNow; }

// The status text is paced: the first entry's at once, one offered too soon held back (and
// dropped for a newer one), a long entry's while it is written (not after), the last one's at
// once when its time has come; the bar follows the package read. Both temporaries are there from
// the start, and a content that fits in memory goes through neither.
TEST_F(PackageExtractionTest, DialogShowsEntriesPacedAndTheWholePercentOfThePackageRead)
{
    std::string first =
        PackageEntryBytes("tpz2.exe", "TALVIQ Project Zorvane 2 PE Demo", SzddLiterals(Pattern(700, 4)));
    std::string second = PackageEntryBytes("Wendlor.exe", "Wendlor", Pattern(300, 5));
    // Many chunks of 64 KiB, each a look at the clock.
    std::string long_ = PackageEntryBytes("Large.dat", "Large data", Pattern(4 * 1024 * 1024, 6));
    std::string last = PackageEntryBytes("Readme.txt", "Read me", "Read me first.\r\n");
    std::string package = first + second + long_ + last;
    const int beforeLong = static_cast<int>((first.size() + second.size()) * 100 / package.size());
    const int afterLong =
        static_cast<int>((first.size() + second.size() + long_.size()) * 100 / package.size());
    ASSERT_LT(beforeLong, afterLong);

    PaceClock = SlowClock;
    const int code = Extract(package);
    PaceClock = GetTickCount;
    ASSERT_EQ(code, 0) << ErrorFile;

    const struct {
        const char* Status;
        int Position;
    } expected[] = {
        {"TALVIQ Project Zorvane 2 PE Demo", 0}, {"Large data", beforeLong}, {"Read me", afterLong}};
    ASSERT_EQ(StatusChanges.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(expected[i].Status);
        EXPECT_EQ(StatusChanges[i].Status, expected[i].Status);
        EXPECT_EQ(StatusChanges[i].Position, expected[i].Position);
        EXPECT_EQ(StatusChanges[i].StoredTemporaries, 1);
        EXPECT_EQ(StatusChanges[i].ExpandedTemporaries, 1);
    }
    ASSERT_FALSE(BarChanges.empty());
    EXPECT_EQ(BarChanges.back().Position, 100);
    EXPECT_EQ(Status(), "Read me");
    EXPECT_EQ(BarPosition(), 100);
    EXPECT_EQ(ListTree(TemporaryFolder), std::vector<std::string>());
    EXPECT_TRUE(ReadTestFile(Target("Large.dat")) == Pattern(4 * 1024 * 1024, 6));
}

TEST_F(PackageExtractionTest, BarStaysRightBeyondFortyTwoMegabytes)
{
    // Past 42,949,672 bytes the position times 100 no longer fits in 32 bits.
    std::string large = PackageEntryBytes("Large.dat", "Large data", std::string(45000000, 'L'));
    std::string small = PackageEntryBytes("Readme.txt", "Read me", std::string(5000000, 'r'));
    ULONGLONG total = large.size() + small.size();
    ASSERT_EQ(Extract(large + small), 0) << ErrorFile;
    ASSERT_EQ(BarChanges.size(), 2u);
    EXPECT_EQ(BarChanges[0].Position, static_cast<int>(large.size() * 100ull / total));
    EXPECT_EQ(BarChanges[1].Position, 100);
    WIN32_FILE_ATTRIBUTE_DATA installed = {};
    ASSERT_TRUE(GetFileAttributesExA(Target("Large.dat").c_str(), GetFileExInfoStandard, &installed));
    EXPECT_EQ(installed.nFileSizeLow, 45000000u);
}

TEST_F(PackageExtractionTest, TrailingBytesShorterThanAHeaderAreIgnored)
{
    std::string entry = PackageEntryBytes("Readme.txt", "Read me", "Read me first.\r\n");
    std::string package = entry + std::string(PackageEntrySize - 1, 'x');
    ASSERT_EQ(Extract(package), 0) << ErrorFile;
    EXPECT_EQ(ReadTestFile(Target("Readme.txt")), "Read me first.\r\n");
    EXPECT_EQ(BarPosition(), static_cast<int>(entry.size() * 100 / package.size()));
    EXPECT_EQ(ListTree(TemporaryFolder), std::vector<std::string>());
}

// Asked before each entry: true from the second question on.
int StopQuestions = 0;
bool StopAfterTheFirstEntry() { return ++StopQuestions > 1; }

TEST_F(PackageExtractionTest, AStopAskedForEndsExtractionBetweenEntriesWithTheCancelledText)
{
    std::string package = PackageEntryBytes("First.txt", "First", "first") +
                          PackageEntryBytes("Second.txt", "Second", "second") +
                          PackageEntryBytes("Third.txt", "Third", "third");
    StopQuestions = 0;
    EXPECT_EQ(Extract(package, true, nullptr, StopAfterTheFirstEntry), ErrOwnText);
    EXPECT_EQ(ErrorFile, CancelledText);
    EXPECT_EQ(StopQuestions, 2);
    EXPECT_EQ(ReadTestFile(Target("First.txt")), "first") << "the entry under way is finished";
    EXPECT_FALSE(FileExists(Target("Second.txt")));
    EXPECT_EQ(Log(), "+" + Target("First.txt") + "\r\n");
    EXPECT_EQ(ListTree(TemporaryFolder), std::vector<std::string>());
}

TEST_F(PackageExtractionTest, EmptyPackageFailsWithEndOfFileAndInstallsNothing)
{
    EXPECT_EQ(Extract(""), ErrUnexpectedEndOfFile);
    EXPECT_EQ(ErrorFile, PackagePath);
    EXPECT_EQ(Status(), "");
    EXPECT_EQ(BarPosition(), 0);
    EXPECT_EQ(Log(), "");
    EXPECT_EQ(ListTree(Destination), std::vector<std::string>{InstallLogName});
    EXPECT_EQ(ListTree(TemporaryFolder), std::vector<std::string>());
}

TEST_F(PackageExtractionTest, PackageCutInsideAnEntryFailsAndRemovesBothTemporaries)
{
    std::string first = PackageEntryBytes("Readme.txt", "Read me", SzddLiterals("Read me first.\r\n"));
    std::string cut = EntryHeader("tpz2.exe", "TALVIQ Project Zorvane 2 PE Demo", 5000, AlwaysReplace) +
                      SzddLiterals(Pattern(4000, 6)).substr(0, 1500);
    EXPECT_EQ(Extract(first + cut), ErrUnexpectedEndOfFile);
    EXPECT_EQ(ErrorFile, PackagePath);
    EXPECT_EQ(ReadTestFile(Target("Readme.txt")), "Read me first.\r\n");
    EXPECT_FALSE(FileExists(Target("tpz2.exe")));
    EXPECT_EQ(Log(), "+" + Target("Readme.txt") + "\r\n");
    ASSERT_EQ(BarChanges.size(), 1u);
    EXPECT_EQ(BarChanges[0].ExpandedTemporaries, 1);
    EXPECT_EQ(ListTree(TemporaryFolder), std::vector<std::string>());

    // Cut inside the first entry: nothing is installed, the bar never moves.
    BarChanges.clear();
    EXPECT_EQ(Extract(cut), ErrUnexpectedEndOfFile);
    EXPECT_TRUE(BarChanges.empty());
    EXPECT_EQ(Log(), "");
    EXPECT_EQ(ListTree(TemporaryFolder), std::vector<std::string>());
}

TEST_F(PackageExtractionTest, NewSubfolderIsLoggedWithItsBackslashBeforeItsFirstFile)
{
    std::string package = PackageEntryBytes("Projects\\Samples\\Sample.tpz", "Sample project", "sample") +
                          PackageEntryBytes("Projects\\Samples\\Second.tpz", "Second project", "second") +
                          PackageEntryBytes("Readme.txt", "Read me", "readme");
    ASSERT_EQ(Extract(package), 0) << ErrorFile;
    EXPECT_EQ(ReadTestFile(Target("Projects\\Samples\\Sample.tpz")), "sample");
    EXPECT_EQ(Log(), "#" + Target("Projects\\Samples\\") + "\r\n+" + Target("Projects\\Samples\\Sample.tpz") +
                         "\r\n+" + Target("Projects\\Samples\\Second.tpz") + "\r\n+" + Target("Readme.txt") +
                         "\r\n");
}

// Removes what a test put into the Windows system folder, also when it fails.
struct SystemFolderLeftovers {
    std::vector<std::string> Files;
    std::string Folder;
    ~SystemFolderLeftovers()
    {
        for (const std::string& file : Files)
            DeleteFileA(file.c_str());
        RemoveDirectoryA(Folder.c_str());
        EXPECT_FALSE(FolderExists(Folder)) << Folder;
    }
};

TEST_F(PackageExtractionTest, SystemFolderEntriesLandInTheSystemFolder)
{
    char system[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryA(system, sizeof system), 0u);
    std::string unique = "ZorvaneExtract" + std::to_string(GetCurrentProcessId());
    std::string library = std::string(system) + "\\" + unique + ".dll";
    std::string folder = std::string(system) + "\\" + unique;
    std::string nested = folder + "\\Nested.dat";
    SystemFolderLeftovers leftovers = {{library, nested}, folder};
    ASSERT_FALSE(FileExists(library));
    ASSERT_FALSE(FolderExists(folder));

    // The byte after '@' is not read.
    std::string package = PackageEntryBytes("@\\" + unique + ".dll", "Add-in", SzddLiterals("library", 'l')) +
                          PackageEntryBytes("@X" + unique + "\\Nested.dat", "Nested", "nested");
    ASSERT_EQ(Extract(package), 0) << ErrorFile;
    EXPECT_EQ(ReadTestFile(library), "library");
    EXPECT_EQ(ReadTestFile(nested), "nested");
    EXPECT_EQ(Log(), "+" + library + "\r\n#" + folder + "\\\r\n+" + nested + "\r\n");
    EXPECT_EQ(ListTree(Destination), std::vector<std::string>{InstallLogName});
}

TEST_F(PackageExtractionTest, MissingTargetIsInstalledAndLoggedUnderEveryMode)
{
    const uint16_t modes[] = {0, ReplaceIfNewer, KeepExisting, AlwaysReplace, 7};
    std::string package;
    std::string log;
    for (uint16_t mode : modes) {
        std::string name = "mode" + std::to_string(mode) + ".txt";
        package += PackageEntryBytes(name, name, "new " + name, mode);
        log += "+" + Target(name) + "\r\n";
    }
    ASSERT_EQ(Extract(package), 0) << ErrorFile;
    for (uint16_t mode : modes) {
        std::string name = "mode" + std::to_string(mode) + ".txt";
        EXPECT_EQ(ReadTestFile(Target(name)), "new " + name);
    }
    EXPECT_EQ(Log(), log);
}

TEST_F(PackageExtractionTest, ExistingTargetIsKeptOrReplacedAndLoggedByItsMode)
{
    struct {
        const char* Name;
        uint16_t Mode;
        bool Replaced;
    } cases[] = {{"keep.txt", KeepExisting, false},
                 {"always0.txt", 0, true},
                 {"always3.txt", AlwaysReplace, true},
                 {"alwaysFFFF.txt", 0xFFFF, true}};
    std::string package;
    std::string log;
    for (const auto& c : cases) {
        WriteTestFile(Target(c.Name), "existing");
        package += PackageEntryBytes(c.Name, c.Name, SzddLiterals("new content"), c.Mode);
        if (c.Replaced)
            log += "+" + Target(c.Name) + "\r\n";
    }
    ASSERT_EQ(Extract(package), 0) << ErrorFile;
    for (const auto& c : cases)
        EXPECT_EQ(ReadTestFile(Target(c.Name)), c.Replaced ? "new content" : "existing") << c.Name;
    EXPECT_EQ(Log(), log);
}

// A target that already holds exactly the new content, with normal attributes, is left as it is
// (its time shows it was not written) and logged as its rule says; any other one is replaced.
TEST_F(PackageExtractionTest, IdenticalTargetIsLeftInPlaceAndLoggedAsItsRuleSays)
{
    const std::string content = "the same content\r\n" + Pattern(3000, 8);
    std::string lastByteDiffers = content;
    lastByteDiffers.back() ^= 1;
    struct {
        const char* Name;
        std::string Existing;
        DWORD Attributes;
        bool Stored;
        bool LeftInPlace;
    } cases[] = {
        {"same.txt", content, FILE_ATTRIBUTE_NORMAL, false, true},
        {"same-stored.txt", content, FILE_ATTRIBUTE_ARCHIVE, true, true},
        {"last-byte.txt", lastByteDiffers, FILE_ATTRIBUTE_NORMAL, false, false},
        {"longer.txt", content + "x", FILE_ATTRIBUTE_NORMAL, false, false},
        {"shorter.txt", content.substr(0, content.size() - 1), FILE_ATTRIBUTE_NORMAL, true, false},
        {"empty.txt", "", FILE_ATTRIBUTE_NORMAL, true, false},
        {"hidden.txt", content, FILE_ATTRIBUTE_HIDDEN, false, false},
    };
    const FILETIME old = {0x12345678, 0x01C00000}; // a time long past
    std::string package;
    std::string log;
    for (const auto& c : cases) {
        const std::string target = Target(c.Name);
        WriteTestFile(target, c.Existing);
        HANDLE file =
            CreateFileA(target.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &old));
        CloseHandle(file);
        ASSERT_TRUE(SetFileAttributesA(target.c_str(), c.Attributes));
        package +=
            PackageEntryBytes(c.Name, c.Name, c.Stored ? content : SzddLiterals(content), AlwaysReplace);
        log += "+" + target + "\r\n";
    }
    ASSERT_EQ(Extract(package), 0) << ErrorFile;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_TRUE(ReadTestFile(Target(c.Name)) == content);
        WIN32_FILE_ATTRIBUTE_DATA data;
        ASSERT_TRUE(GetFileAttributesExA(Target(c.Name).c_str(), GetFileExInfoStandard, &data));
        EXPECT_EQ(CompareFileTime(&data.ftLastWriteTime, &old) == 0, c.LeftInPlace);
    }
    EXPECT_EQ(Log(), log);
    EXPECT_EQ(FilesMatching(Destination + "\\~v*"), std::vector<std::string>());
}

TEST_F(PackageExtractionTest, ReplaceIfNewerReplacesOnlyAnOlderReadableVersionAndNeverLogs)
{
    // Null: a file without a version resource.
    struct {
        const char* Old;
        const char* New;
        bool Replaced;
    } cases[] = {
        {"1.2.3.4", "1.2.3.5", true},      // low half greater
        {"1.2.3.5", "1.3.0.0", true},      // high half greater, low half smaller
        {"1.3.0.0", "1.2.3.5", false},     // older
        {"1.2.3.5", "1.2.3.5", false},     // equal
        {"1.2.3.4", "40000.0.0.0", true},  // compared as unsigned numbers
        {"40000.0.0.0", "1.3.0.0", false}, //
        {nullptr, "1.3.0.0", false},       // the existing file's version cannot be read
        {"1.2.3.4", nullptr, false},       // the new file's version cannot be read
    };
    std::string package;
    std::vector<std::string> existing;
    std::vector<std::string> incoming;
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        std::string name = "case" + std::to_string(i) + ".exe";
        // Overlay bytes tell the existing copy apart without touching its version resource.
        existing.push_back((cases[i].Old ? VersionedFile(cases[i].Old) : std::string("plain text")) +
                           "existing copy");
        incoming.push_back(cases[i].New ? VersionedFile(cases[i].New) : std::string("new plain text"));
        WriteTestFile(Target(name), existing[i]);
        std::string stored = i % 2 ? incoming[i] : SzddLiterals(incoming[i], 'e');
        package += PackageEntryBytes(name, name, stored, ReplaceIfNewer);
    }
    ASSERT_EQ(Extract(package), 0) << ErrorFile;
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        std::string name = "case" + std::to_string(i) + ".exe";
        EXPECT_TRUE(ReadTestFile(Target(name)) == (cases[i].Replaced ? incoming[i] : existing[i]))
            << name << (cases[i].Replaced ? " not replaced" : " replaced");
    }
    EXPECT_EQ(Log(), "");
}

TEST_F(PackageExtractionTest, UnsoundEntryIsRefusedBeforeAnythingOfItIsDone)
{
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    struct {
        std::string Target;
        std::string Display;
        std::string EscapedTo; // where a file would land if the name were followed ("" none)
    } cases[] = {
        {"..\\..\\..\\evil.txt", "evil", Dir.Join("evil.txt")},
        {"Data\\..\\..\\..\\..\\evil.txt", "evil", Dir.Join("evil.txt")},
        {"\\zorvane-evil.txt", "evil", "C:\\zorvane-evil.txt"},
        {"C:\\zorvane-evil.txt", "evil", "C:\\zorvane-evil.txt"},
        {"C:zorvane-evil.txt", "evil", "C:\\zorvane-evil.txt"},
        {"@\\..\\zorvane-evil.txt", "evil", std::string(windows) + "\\zorvane-evil.txt"},
        {"", "evil", ""},
        {"what?.txt", "evil", ""}, // characters the file calls would refuse
        {"Data\\a<b>|c.txt", "evil", ""},
        {"tab\t.txt", "evil", ""},
        {std::string(PackageTextSize, 'a'), "evil", ""},                     // target without its terminator
        {"evil.txt", std::string(PackageTextSize, 'd'), Target("evil.txt")}, // display text likewise
    };
    std::string first = PackageEntryBytes("first.txt", "First file", SzddLiterals("first"));
    ASSERT_EQ(Extract(first), 0) << ErrorFile;
    std::vector<std::string> before = ListTree(Dir.Path());
    for (const auto& c : cases) {
        SCOPED_TRACE("target '" + c.Target + "'");
        EXPECT_EQ(Extract(first + PackageEntryBytes(c.Target, c.Display, "evil")), ErrInvalidOrCorrupt);
        EXPECT_EQ(ErrorFile, PackagePath);
        EXPECT_EQ(Status(), "First file");
        EXPECT_EQ(Log(), "+" + Target("first.txt") + "\r\n");
        EXPECT_EQ(ListTree(Dir.Path()), before);
        if (!c.EscapedTo.empty()) {
            EXPECT_FALSE(FileExists(c.EscapedTo));
            DeleteFileA(c.EscapedTo.c_str()); // a failure must not spoil the next run
        }
    }
}

TEST_F(PackageExtractionTest, TargetPathBeyondThePathLimitIsBlamedOnTheFolderNotThePackage)
{
    WriteTestFile(PackagePath, "");
    WriteTestFile(LogPath, "");
    // Target paths of 259 bytes (the most a path holds) and of 260 and 261.
    for (size_t targetLength : {259u, 260u, 261u}) {
        SCOPED_TRACE(targetLength);
        std::string folder = Dir.Path() + "\\" + std::string(targetLength - 12 - Dir.Path().size(), 'd');
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
        lstrcpynA(DestinationFolder, folder.c_str(), MAX_PATH);
        std::string target = folder + "\\Readme.txt";
        ASSERT_EQ(target.size(), targetLength);
        int code = Extract(PackageEntryBytes("Readme.txt", "Read me", "readme"));
        if (targetLength < MAX_PATH) {
            EXPECT_EQ(code, 0) << ErrorFile;
            EXPECT_EQ(ReadTestFile(target), "readme");
        } else {
            EXPECT_EQ(code, ErrWriteError);
            EXPECT_EQ(SystemError, static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
            // Shortened in the middle to fit: the drive and the file's own name both show.
            EXPECT_EQ(ErrorFile.size(), MAX_PATH - 1u) << ErrorFile;
            EXPECT_EQ(ErrorFile.substr(0, 10), target.substr(0, 10));
            EXPECT_NE(ErrorFile.find("..."), std::string::npos);
            EXPECT_EQ(ErrorFile.substr(ErrorFile.size() - 12), "d\\Readme.txt");
            EXPECT_EQ(ListTree(folder), std::vector<std::string>());
        }
        EXPECT_EQ(ListTree(TemporaryFolder), std::vector<std::string>());
        EXPECT_TRUE(RemoveTree(folder));
    }
}

TEST_F(PackageExtractionTest, RecordGoesInTheLogBeforeTheFileGoesInPlace)
{
    WriteTestFile(Target("Readme.txt"), "old readme");
    for (const char* name : {"New.txt", "Readme.txt"}) {
        SCOPED_TRACE(name);
        // A log that takes no record: a pipe whose reading end is gone before extraction starts.
        std::string pipe = "\\\\.\\pipe\\zorvane-log-" + std::to_string(GetCurrentProcessId());
        HANDLE reading =
            CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr);
        ASSERT_NE(reading, INVALID_HANDLE_VALUE);
        FileWriter log(pipe.c_str());
        CloseHandle(reading);
        EXPECT_EQ(
            Extract(PackageEntryBytes(name, name, SzddLiterals("new content"), AlwaysReplace), true, &log),
            ErrWriteError);
        EXPECT_EQ(ErrorFile, pipe);
        EXPECT_FALSE(FileExists(Target("New.txt"))) << "a file in place that the log does not name";
        EXPECT_EQ(ReadTestFile(Target("Readme.txt")), "old readme");
        EXPECT_EQ(FilesMatching(Destination + "\\~v*"), std::vector<std::string>());
        EXPECT_EQ(ListTree(TemporaryFolder), std::vector<std::string>());
    }
}

// Fails the calls of the replacing rename whose bits are set in FailingMoves (bit 0: the first).
unsigned FailingMoves = 0;
unsigned MovesMade = 0;
BOOL WINAPI MoveFailingSome(LPCSTR from, LPCSTR to, DWORD flags)
{
    if ((FailingMoves >> MovesMade++) & 1) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return MoveFileExA(from, to, flags);
}

TEST_F(PackageExtractionTest, ReplacementWhoseRenameFailsLeavesTheOldFileWholeAndNoTemporary)
{
    struct {
        const char* Name;
        unsigned Failing; // the old file aside; the old one back
        bool Replaced;
    } cases[] = {
        {"the old file cannot be set aside", 0x1, false},
        {"every rename refused", ~0u, false},
        {"every rename made", 0x0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        WriteTestFile(Target("Readme.txt"), "old readme");
        WriteTestFile(LogPath, "");
        FailingMoves = c.Failing;
        MovesMade = 0;
        MoveFileForReplacement = MoveFailingSome;
        int code =
            Extract(PackageEntryBytes("Readme.txt", "Read me", SzddLiterals("new readme"), AlwaysReplace));
        MoveFileForReplacement = MoveFileExA;
        EXPECT_EQ(code, c.Replaced ? 0 : ErrWriteError);
        EXPECT_EQ(ReadTestFile(Target("Readme.txt")), c.Replaced ? "new readme" : "old readme");
        if (!c.Replaced) {
            EXPECT_EQ(ErrorFile, Target("Readme.txt"));
        }
        EXPECT_EQ(FilesMatching(Destination + "\\~v*"), std::vector<std::string>());
        EXPECT_EQ(ListTree(TemporaryFolder), std::vector<std::string>());
    }
}

TEST_F(PackageExtractionTest, DataThatDoesNotExpandExactlyIsRefusedAndNeverInstalled)
{
    std::string whole = SzddLiterals(Pattern(1000, 7));
    std::string unknownMode = whole;
    unknownMode[8] = 'B';
    struct {
        const char* Name;
        std::string Stored;
    } cases[] = {
        {"cut stream", whole.substr(0, whole.size() - 5)},
        {"header only", whole.substr(0, 14)},
        {"unknown mode", unknownMode},
    };
    // The same first entry each time: a failure must not leave its content under the next name.
    std::string first = PackageEntryBytes("first.txt", "First file", SzddLiterals("first"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(Extract(first + PackageEntryBytes("Data\\second.txt", "Second file", c.Stored)),
                  ErrInvalidOrCorrupt);
        EXPECT_EQ(ErrorFile, PackagePath);
        EXPECT_EQ(ReadTestFile(Target("first.txt")), "first");
        EXPECT_FALSE(FolderExists(Target("Data")));
        EXPECT_EQ(Log(), "+" + Target("first.txt") + "\r\n");
        EXPECT_EQ(ListTree(TemporaryFolder), std::vector<std::string>());
    }
}

TEST_F(PackageExtractionTest, CopyIntoPlaceThatFailsIsReportedWithTheTarget)
{
    WriteTestFile(Target("Readme.txt"), "old readme");
    WriteTestFile(Target("tpz2.exe"), VersionedFile("1.2.3.4"));
    struct {
        const char* Name;
        std::string Stored;
        uint16_t Mode;
    } cases[] = {
        {"Readme.txt", SzddLiterals("new readme"), AlwaysReplace},
        {"tpz2.exe", VersionedFile("1.3.0.0"), ReplaceIfNewer},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        std::string old = ReadTestFile(Target(c.Name));
        // Held open for reading, as a running program is: its version can be read, but it can be
        // neither deleted nor overwritten.
        HANDLE busy = CreateFileA(Target(c.Name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(busy, INVALID_HANDLE_VALUE);
        int code = Extract(PackageEntryBytes(c.Name, c.Name, c.Stored, c.Mode));
        CloseHandle(busy);
        EXPECT_EQ(code, ErrWriteError);
        EXPECT_EQ(ErrorFile, Target(c.Name));
        EXPECT_EQ(SystemError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_TRUE(ReadTestFile(Target(c.Name)) == old);
        EXPECT_EQ(ListTree(TemporaryFolder), std::vector<std::string>());
    }
}

TEST_F(PackageExtractionTest, FolderThatCannotBeMadeOrTemporariesThatCannotBeMadeAreReported)
{
    WriteTestFile(Target("Readme.txt"), "a file where a folder is wanted");
    EXPECT_EQ(Extract(PackageEntryBytes("Readme.txt\\inner.txt", "Inner", "inner")), ErrFailedToCreateFolder);
    EXPECT_EQ(ErrorFile, Target("Readme.txt\\"));
    EXPECT_EQ(ListTree(TemporaryFolder), std::vector<std::string>());

    std::string missing = Dir.Join("missing");
    UseTemporaryFolder(missing);
    EXPECT_EQ(Extract(PackageEntryBytes("Second.txt", "Second", "second")), ErrUnableToOpen);
    EXPECT_EQ(ErrorFile, missing + "\\");
    EXPECT_FALSE(FileExists(Target("Second.txt")));
    EXPECT_FALSE(FolderExists(missing));

    // The temporaries are plain files: a temporary folder of 128 bytes and more, beyond what the
    // platform's LZ open takes, works as any other.
    std::string deep = TemporaryFolder + "\\" + std::string(130 - TemporaryFolder.size(), 't');
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    UseTemporaryFolder(deep);
    ASSERT_EQ(Extract(PackageEntryBytes("Second.txt", "Second", SzddLiterals("second"))), 0) << ErrorFile;
    EXPECT_EQ(ReadTestFile(Target("Second.txt")), "second");
    EXPECT_EQ(ListTree(deep), std::vector<std::string>());
}

// Content is kept in memory up to a limit and otherwise read back from the expansion temporary,
// which is cut only when the new content is shorter: every way must give each file exactly, also
// a short file after a long one, new or replacing an existing one.
TEST_F(PackageExtractionTest, ContentHeldInMemoryOrNotAndShorterAfterLongerInstallsExactly)
{
    struct {
        const char* Name;
        std::string Content;
        bool Compressed;
        bool Exists;
    } entries[] = {{"long.bin", Pattern(5000, 1), true, false},
                   {"short.txt", Pattern(300, 2), false, false},
                   {"longer.dat", Pattern(4000, 3), false, true},
                   {"tiny.bin", Pattern(10, 4), true, true},
                   {"empty.txt", "", false, false},
                   {"last.bin", Pattern(2000, 5), true, false}};
    const uint32_t saved = ExpansionMemoryLimit;
    for (uint32_t limit : {saved, 1000u, 0u}) {
        SCOPED_TRACE(limit);
        ExpansionMemoryLimit = limit;
        std::string package;
        std::string log;
        for (const auto& entry : entries) {
            DeleteFileA(Target(entry.Name).c_str());
            if (entry.Exists)
                WriteTestFile(Target(entry.Name), Pattern(6000, 9));
            package += PackageEntryBytes(entry.Name, entry.Name,
                                         entry.Compressed ? SzddLiterals(entry.Content) : entry.Content);
            log += "+" + Target(entry.Name) + "\r\n";
        }
        int code = Extract(package);
        ExpansionMemoryLimit = saved;
        ASSERT_EQ(code, 0) << ErrorFile;
        for (const auto& entry : entries)
            EXPECT_TRUE(ReadTestFile(Target(entry.Name)) == entry.Content) << entry.Name;
        EXPECT_EQ(Log(), log);
        EXPECT_EQ(ListTree(TemporaryFolder), std::vector<std::string>());
    }
}

TEST_F(PackageExtractionTest, WithoutADialogExtractionRunsTheSame)
{
    ASSERT_EQ(Extract(PackageEntryBytes("Readme.txt", "Read me", SzddLiterals("readme")), false), 0)
        << ErrorFile;
    EXPECT_EQ(ReadTestFile(Target("Readme.txt")), "readme");
    EXPECT_TRUE(StatusChanges.empty());
    EXPECT_EQ(Log(), "+" + Target("Readme.txt") + "\r\n");
}

} // namespace

TEST_F(PackageExtractionTest, InstallsTheDemoPackageThatZpackBuiltExactly)
{
    // Setup.z as the build packed it with zpack, from the files staged beside its manifest.
    std::string package = ReadTestFile(BuildTreePath(DEMO_PACKAGE_UNIX_PATH));
    ASSERT_GT(package.size(), PackageEntrySize);
    ASSERT_EQ(Extract(package), 0) << ErrorFile;

    std::string sources = BuildTreePath(DEMO_SOURCES_UNIX_PATH);
    struct {
        const char* Target;
        const char* Source;
    } files[] = {{"tpz2.exe", "tpz2.exe"},
                 {"Wendlor.exe", "Wendlor.exe"},
                 {"Readme.txt", "files\\Readme.txt"},
                 {"Projects\\Sample.tpz", "files\\Sample.tpz"}};
    for (const auto& file : files) {
        std::string expected = ReadTestFile(sources + "\\" + file.Source);
        ASSERT_FALSE(expected.empty()) << file.Source;
        EXPECT_TRUE(ReadTestFile(Target(file.Target)) == expected)
            << file.Target << " differs from its source";
    }
    EXPECT_EQ(Log(), "+" + Target("tpz2.exe") + "\r\n+" + Target("Wendlor.exe") + "\r\n+" +
                         Target("Readme.txt") + "\r\n#" + Target("Projects\\") + "\r\n+" +
                         Target("Projects\\Sample.tpz") + "\r\n");
    EXPECT_EQ(BarPosition(), 100);
    EXPECT_EQ(ListTree(TemporaryFolder), std::vector<std::string>());
}
