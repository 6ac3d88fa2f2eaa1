// A failed install undone, end to end with the real Setup.exe: the product's folders, files,
// Setup.log, registry entries and shortcuts are taken before the run and after it, and must be
// the same, byte for byte. Runs through with-small-drive, which lends the full-drive case its drive.
#include "support/ChildProcess.h"
#include "support/MachineSnapshot.h"
#include "support/PackageBuilder.h"
#include "support/RegistryProbe.h"
#include "support/ScopedTempDir.h"
#include "support/SetupFixtures.h"
#include "uidriver/UiDriver.h"

#include <windows.h>
#include <prsht.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <stdlib.h>

#include <iostream>
#include <string>
#include <vector>

namespace {

const char Entry[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TALVIQ Project Zorvane PE 2.0";
const char AddinKey[] = "Software\\Microsoft\\Shared Tools\\Addin Designer\\TALVIQ Project Zorvane";
// The add-in key's ancestors, which an installation may create: put back as they were.
const char* const AddinAncestors[] = {"Software\\Microsoft\\Shared Tools\\Addin Designer",
                                      "Software\\Microsoft\\Shared Tools"};
const char RunKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char UndoneLine[] = "undo: done; nothing of this run is left";
const char UndoneRecoveryLine[] = "recovery: the changes of an install that did not end were undone";
const DWORD RunLimitMs = 60000;

std::string JournalPath() { return InstallJournalFile(); }

// An entry whose compressed data announce more than they hold: the package is found damaged there.
std::string DamagedEntry(const std::string& target)
{
    std::string stored = SzddLiterals("cut short");
    stored[10] = 100;
    return PackageEntryBytes(target, "Damaged", stored);
}

// Two media (Setup.exe with a package each) in a temporary folder, the proposed Program Files
// folder pointed into it; the product's registry entries and shortcuts are removed afterwards.
class Rollback : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char* key : AddinAncestors)
            AncestorsExisted.push_back(KeyExists(HKEY_LOCAL_MACHINE, key));
        std::string programFiles = Temp.Join("Program Files");
        ProgramFiles.PointTo(programFiles);
        for (const std::string& medium : {Medium, Newer}) {
            CreateDirectoryA(medium.c_str(), nullptr);
            ASSERT_TRUE(CopyFileA(BuildTreePath(SETUP_EXE_UNIX_PATH).c_str(),
                                  (medium + "\\Setup.exe").c_str(), FALSE));
        }
        WriteTestFile(Medium + "\\Setup.z", ReadTestFile(BuildTreePath(DEMO_PACKAGE_UNIX_PATH)));
    }
    void TearDown() override
    {
        RemoveProduct();
        for (size_t i = 0; i < AncestorsExisted.size(); ++i) {
            if (!AncestorsExisted[i]) {
                EXPECT_TRUE(RemoveKeyTree(HKEY_LOCAL_MACHINE, AddinAncestors[i])) << AddinAncestors[i];
            }
        }
        EXPECT_FALSE(FileExists(JournalPath())) << "a journal left behind";
        DeleteFileA(JournalPath().c_str());
    }
    void RemoveProduct()
    {
        RemoveKeyTree(HKEY_LOCAL_MACHINE, Entry);
        RemoveKeyTree(HKEY_LOCAL_MACHINE, AddinKey);
        HKEY run;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, RunKeyPath, 0, KEY_SET_VALUE, &run) == ERROR_SUCCESS) {
            RegDeleteValueA(run, "TPZ20");
            RegCloseKey(run);
        }
        RemoveTree(ProgramsFolder());
    }

    PROCESS_INFORMATION Start(const std::string& medium, const std::string& arguments)
    {
        return StartChild("\"" + medium + "\\Setup.exe\" " + arguments);
    }
    DWORD Finish(PROCESS_INFORMATION process) { return FinishChild(process, RunLimitMs); }
    DWORD Run(const std::string& medium, const std::string& arguments)
    {
        return Finish(Start(medium, arguments));
    }
    // Installs the demo package quietly into Destination (or /dir's folder) and checks it did.
    void InstallDemo(const std::string& arguments = "")
    {
        ASSERT_EQ(Run(Medium, "/quiet " + arguments), 0u);
        ASSERT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Entry));
    }
    // Takes the state, runs the newer medium quietly, and expects exitCode and the same state.
    void ExpectQuietRunUndone(const std::string& package, DWORD exitCode,
                              const std::vector<std::string>& folders)
    {
        WriteTestFile(Newer + "\\Setup.z", package);
        MachineSnapshot before = TakeProductSnapshot(folders);
        DeleteFileA(Log.c_str());
        EXPECT_EQ(Run(Newer, "/quiet /log=" + Log), exitCode);
        MachineSnapshot after = TakeProductSnapshot(folders);
        EXPECT_EQ(SnapshotDifferences(before, after), "");
        std::cout << "    compared " << before.size() << " items before and after: "
                  << (SnapshotDifferences(before, after).empty() ? "the same" : "different") << "\n";
        std::vector<std::string> lines = DiagnosticLogLines(Log);
        EXPECT_TRUE(Contains(lines, UndoneLine)) << ReadTestFile(Log);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), "exit code: " + std::to_string(exitCode));
    }
    // Runs the newer medium with arguments, whose product (FakeProduct.exe) holds the product's
    // mutex when started for its registration, does what is asked to the run while it waits for
    // it, and then lets the product go. The run's exit code, or ~0u when the registration never
    // started.
    DWORD RunNewerStoppedAtItsRegistration(const std::string& arguments, bool kill)
    {
        HANDLE quit = CreateEventA(nullptr, TRUE, FALSE, "FakeProductQuit");
        // Made before the run, so that the product's registration sets it: waited for, never missed.
        HANDLE registering = CreateEventA(nullptr, TRUE, FALSE, "FakeProductRegistering");
        PROCESS_INFORMATION run = Start(Newer, arguments);
        const HANDLE either[] = {registering, run.hProcess};
        const bool started = WaitForMultipleObjects(2, either, FALSE, RunLimitMs) == WAIT_OBJECT_0;
        if (kill) {
            TerminateProcess(run.hProcess, 1);
        } else {
            HWND progress =
                WaitForProcessWindow(run.dwProcessId, DialogClass, "Installing TALVIQ Project Zorvane...");
            EXPECT_NE(progress, nullptr);
            PressButton(progress, IDCANCEL);
        }
        SetEvent(quit);
        CloseHandle(registering);
        DWORD code = Finish(run);
        // The product lets its mutex go as it ends.
        for (DWORD start = GetTickCount(); started && GetTickCount() - start < RunLimitMs; Sleep(20)) {
            HANDLE still = OpenMutexA(SYNCHRONIZE, FALSE, "ProjectZorvaneMutex");
            if (still == nullptr)
                break;
            CloseHandle(still);
        }
        CloseHandle(quit);
        return started ? code : ~0u;
    }
    void WriteNewerWithWaitingProduct()
    {
        WriteTestFile(Newer + "\\Setup.z",
                      PackageEntryBytes("tpz2.exe", "Program", ReadTestFile(BesideTests("FakeProduct.exe")),
                                        AlwaysReplace) +
                          PackageEntryBytes("Readme.txt", "Read me", SzddLiterals("newer"), AlwaysReplace) +
                          PackageEntryBytes("Extra\\New.txt", "New", SzddLiterals("new")));
    }
    std::string DemoSource(const char* relative)
    {
        return ReadTestFile(BuildTreePath(DEMO_SOURCES_UNIX_PATH) + "\\" + relative);
    }

    ScopedTempDir Temp;
    const std::string Medium = Temp.Join("medium");
    const std::string Newer = Temp.Join("newer");
    const std::string Destination = Temp.Join("Program Files\\TALVIQ\\Project Zorvane PE");
    const std::string Log = Temp.Join("zorvane.log");
    ProgramFilesOverride ProgramFiles;
    std::vector<bool> AncestorsExisted;
};

TEST_F(Rollback, PackageDamagedAtItsLastEntryLeavesAFreshMachineAsItWas)
{
    WriteTestFile(Medium + "\\Setup.z",
                  ReadTestFile(BuildTreePath(DEMO_PACKAGE_UNIX_PATH)) + DamagedEntry("Projects\\Last.bin"));
    const std::string message = "File '" + Medium + "\\Setup.z' is invalid or corrupt";
    for (bool quiet : {true, false}) {
        SCOPED_TRACE(quiet ? "quiet" : "interactive");
        const std::vector<std::string> folders = {Temp.Join("Program Files")};
        MachineSnapshot before = TakeProductSnapshot(folders);
        if (quiet) {
            DeleteFileA(Log.c_str());
            EXPECT_EQ(Run(Medium, "/quiet /log=" + Log), 1620u);
            std::vector<std::string> lines = DiagnosticLogLines(Log);
            EXPECT_TRUE(Contains(lines, "Setup, error: " + message));
            EXPECT_TRUE(Contains(lines, UndoneLine));
        } else {
            PROCESS_INFORMATION process = Start(Medium, "");
            ASSERT_TRUE(FinishWizardWithDefaults(process.dwProcessId, RunLimitMs)) << "no wizard";
            HWND box = WaitForProcessWindow(process.dwProcessId, DialogClass, "Setup", RunLimitMs);
            ASSERT_NE(box, nullptr) << "no message";
            MessageBoxContent shown = ReadMessageBox(box);
            EXPECT_EQ(shown.Text, message) << "the design's message, nothing more";
            EXPECT_EQ(shown.IconStyle, static_cast<UINT>(MB_ICONHAND));
            PressButton(box, IDOK);
            EXPECT_EQ(Finish(process), 0u);
        }
        MachineSnapshot after = TakeProductSnapshot(folders);
        EXPECT_EQ(SnapshotDifferences(before, after), "");
        EXPECT_FALSE(FolderExists(Temp.Join("Program Files"))) << "no folder, no files, no Setup.log";
        std::cout << "    compared " << before.size() << " items before and after: "
                  << (SnapshotDifferences(before, after).empty() ? "the same" : "different") << "\n";
    }
}

TEST_F(Rollback, NewerPackageWhoseProductCannotRegisterLeavesTheInstalledProductAsItWas)
{
    InstallDemo();
    ASSERT_TRUE(FileExists(Destination + "\\Setup.log"));
    // The newer product program is no program at all: it cannot be started for /RegServer.
    const std::string package =
        PackageEntryBytes("tpz2.exe", "TALVIQ Project Zorvane 2 PE Demo", "not a program", AlwaysReplace) +
        PackageEntryBytes("Readme.txt", "Read me", SzddLiterals("the newer readme"), AlwaysReplace) +
        PackageEntryBytes("Extra\\New.txt", "New", SzddLiterals("a new file in a new folder"));
    ExpectQuietRunUndone(package, 1603, {Temp.Join("Program Files")});
    EXPECT_TRUE(Contains(DiagnosticLogLines(Log),
                         "Setup, error: Failed to register TALVIQ Project Zorvane with Windows registry"));
    EXPECT_EQ(ReadTestFile(Destination + "\\Readme.txt"), DemoSource("files\\Readme.txt"));
}

// Every fault the install stops at, over an installed product: the state before is the state after.
TEST_F(Rollback, EachFaultPointLeavesTheMachineAsItWas)
{
    const char* drive = getenv("ZORVANE_SMALL_DRIVE");
    const std::string newerReadme =
        PackageEntryBytes("Readme.txt", "Read me", SzddLiterals("newer"), AlwaysReplace);
    const std::string newerProgram = PackageEntryBytes("tpz2.exe", "TALVIQ Project Zorvane 2 PE Demo",
                                                       DemoSource("tpz2.exe"), AlwaysReplace);
    const struct {
        const char* Name;
        std::string Package;
        DWORD ExitCode;
    } cases[] = {
        {"damaged after two entries",
         newerProgram + newerReadme + DamagedEntry("Data\\Damaged.bin") +
             PackageEntryBytes("Later.txt", "Later", "never installed"),
         1620},
        {"file held open", newerProgram + newerReadme, 1603},
        {"registry write refused", ReadTestFile(Medium + "\\Setup.z"), 1603},
        {"full drive", newerReadme + PackageEntryBytes("Big.bin", "Big", std::string(700000, 'b')), 1603},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string name = c.Name;
        std::string destination = Destination;
        std::string arguments;
        if (name == "full drive") {
            if (drive == nullptr || drive[0] == '\0') {
                std::cout << "    no small drive: the full-drive case is skipped\n";
                continue;
            }
            destination = std::string(drive) + "\\Zorvane";
            arguments = "/dir=" + destination;
            // What fits the drive beside the uninstaller: the product program and its readme.
            WriteTestFile(
                Medium + "\\Setup.z",
                PackageEntryBytes("tpz2.exe", "Program", DemoSource("tpz2.exe"), ReplaceIfNewer) +
                    PackageEntryBytes("Readme.txt", "Read me", SzddLiterals("older"), AlwaysReplace));
        }
        InstallDemo(arguments);
        HANDLE held = INVALID_HANDLE_VALUE;
        if (name == "file held open")
            held = CreateFileA((destination + "\\Readme.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        std::string refusedKey;
        if (name == "registry write refused") {
            // Nothing but a volatile key may be made below a volatile one: the add-in keys cannot be.
            RemoveKeyTree(HKEY_LOCAL_MACHINE, AddinKey);
            refusedKey = std::string(AddinKey) + "\\2.0";
            HKEY volatileKey;
            ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, AddinKey, 0, nullptr, REG_OPTION_VOLATILE,
                                      KEY_ALL_ACCESS, nullptr, &volatileKey, nullptr),
                      ERROR_SUCCESS);
            RegCloseKey(volatileKey);
        }
        ExpectQuietRunUndone(c.Package, c.ExitCode, {Temp.Join("Program Files"), destination});
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        if (name == "registry write refused") {
            std::vector<std::string> lines = DiagnosticLogLines(Log);
            EXPECT_TRUE(
                Contains(lines, "Setup, error: Error writing file: HKEY_LOCAL_MACHINE\\" + refusedKey))
                << lines.size();
        }
        RemoveProduct();
        EXPECT_TRUE(RemoveTree(destination));
        WriteTestFile(Medium + "\\Setup.z", ReadTestFile(BuildTreePath(DEMO_PACKAGE_UNIX_PATH)));
    }
}

TEST_F(Rollback, JournalLeftByAKilledRunIsUndoneByTheNextRunBeforeItInstalls)
{
    // Installed twice, the demo is as every further install of it leaves it.
    InstallDemo();
    InstallDemo();
    const std::vector<std::string> folders = {Temp.Join("Program Files")};
    MachineSnapshot before = TakeProductSnapshot(folders);

    // A newer medium whose product waits at its registration; the run is killed while it waits,
    // with every file, value and shortcut of it in place.
    WriteNewerWithWaitingProduct();
    ASSERT_EQ(RunNewerStoppedAtItsRegistration("/quiet", true), 1u);
    ASSERT_TRUE(FileExists(JournalPath())) << "the killed run left no journal";
    EXPECT_EQ(ReadTestFile(Destination + "\\Readme.txt"), "newer") << "killed after its files";

    // Held back by a running product, the next run changes nothing: the journal waits for a run
    // that goes on to change the machine.
    MachineSnapshot killed = TakeProductSnapshot(folders);
    HANDLE product = CreateMutexA(nullptr, FALSE, "ProjectZorvaneMutex");
    DeleteFileA(Log.c_str());
    EXPECT_EQ(Run(Medium, "/quiet /log=" + Log), 1618u);
    CloseHandle(product);
    EXPECT_EQ(SnapshotDifferences(killed, TakeProductSnapshot(folders)), "");
    EXPECT_FALSE(Contains(DiagnosticLogLines(Log), UndoneRecoveryLine));

    // Then run to its end: undone once past the guard, then installed.
    DeleteFileA(Log.c_str());
    EXPECT_EQ(Run(Medium, "/quiet /log=" + Log), 0u);
    std::vector<std::string> lines = DiagnosticLogLines(Log);
    EXPECT_TRUE(Contains(lines, UndoneRecoveryLine)) << ReadTestFile(Log);
    EXPECT_FALSE(FileExists(JournalPath()));
    // As every reinstall leaves it: but the product's own log of its registrations, which is no
    // part of the installation (nor, then, the entry's size, which counts it), and the shortcuts,
    // made anew, which hold their targets' times.
    MachineSnapshot installed = TakeProductSnapshot(folders);
    for (MachineSnapshot* state : {&before, &installed}) {
        state->erase("file " + Destination + "\\tpz2.log");
        EXPECT_EQ(state->erase("value HKLM\\" + std::string(Entry) + "|EstimatedSize"), 1u);
        for (auto& item : *state)
            if (item.first.size() > 4 && item.first.compare(item.first.size() - 4, 4, ".lnk") == 0)
                item.second = "a shortcut";
    }
    EXPECT_EQ(SnapshotDifferences(before, installed), "");
    EXPECT_FALSE(FolderExists(Destination + "\\Extra"));
}

TEST_F(Rollback, CancelOfAPassiveRunUndoesWhatItDid)
{
    InstallDemo();
    // With data of the previous version about, the status update after the registration takes the
    // cancel made while the run waits for it, when every file is in place.
    const std::string oldFolder = Temp.Join("Old Zorvane");
    const std::string oldEntry =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TALVIQ Project Zorvane 1.0";
    CreateDirectoryA(oldFolder.c_str(), nullptr);
    WriteTestFile(oldFolder + "\\Zorvane.prm", "old settings");
    SetRawValue(HKEY_LOCAL_MACHINE, oldEntry, "InstallLocation", REG_SZ, oldFolder.c_str(),
                static_cast<DWORD>(oldFolder.size() + 1));
    WriteNewerWithWaitingProduct();
    const std::vector<std::string> folders = {Temp.Join("Program Files")};
    MachineSnapshot before = TakeProductSnapshot(folders);
    EXPECT_EQ(RunNewerStoppedAtItsRegistration("/passive /log=" + Log, false), 1602u);
    EXPECT_EQ(SnapshotDifferences(before, TakeProductSnapshot(folders)), "");
    std::vector<std::string> lines = DiagnosticLogLines(Log);
    EXPECT_TRUE(Contains(lines, "Setup, error: Setup was cancelled by the user.")) << ReadTestFile(Log);
    EXPECT_TRUE(Contains(lines, UndoneLine));
    EXPECT_TRUE(RemoveKeyTree(HKEY_LOCAL_MACHINE, oldEntry));
}

} // namespace
