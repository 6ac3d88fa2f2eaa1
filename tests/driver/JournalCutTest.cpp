// Runs of the real Setup.exe cut at every journal record and at every change (the journal's test
// seam ends the process there), and what the next run makes of each: a whole run after any cut
// leaves the machine as a whole run leaves it. A tiny package keeps the number of cuts small.
#include "support/BootRequests.h"
#include "support/ChildProcess.h"
#include "support/MachineSnapshot.h"
#include "support/PackageBuilder.h"
#include "support/RegistryProbe.h"
#include "support/ScopedTempDir.h"
#include "support/SetupFixtures.h"
#include "uidriver/UiDriver.h"

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

namespace {

const char Entry[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TALVIQ Project Zorvane PE 2.0";
const char SharedTools[] = "Software\\Microsoft\\Shared Tools";
const char AddinParent[] = "Software\\Microsoft\\Shared Tools\\Addin Designer";
const char AddinKey[] = "Software\\Microsoft\\Shared Tools\\Addin Designer\\TALVIQ Project Zorvane";
const DWORD CutExitCode = 0x4A43;
const DWORD RunLimitMs = 60000;

std::string DemoSource(const char* relative)
{
    return ReadTestFile(BuildTreePath(DEMO_SOURCES_UNIX_PATH) + "\\" + relative);
}

// The recovery line of a run's diagnostic log: what the run did with the journal it found.
std::string RecoveryOf(const std::string& log)
{
    for (const std::string& line : DiagnosticLogLines(log))
        if (line.compare(0, 10, "recovery: ") == 0)
            return line.substr(10);
    return "found no journal";
}

// The disk flushes the run's commit logged ("journal: committed; N disk flushes").
std::string FlushesOf(const std::string& log)
{
    for (const std::string& line : DiagnosticLogLines(log))
        if (line.compare(0, 20, "journal: committed; ") == 0)
            return line.substr(20);
    return "no commit";
}

class JournalCut : public testing::Test {
protected:
    void SetUp() override
    {
        SharedToolsExisted = KeyExists(HKEY_LOCAL_MACHINE, SharedTools);
        AddinParentExisted = KeyExists(HKEY_LOCAL_MACHINE, AddinParent);
        std::string programFiles = Temp.Join("Program Files");
        ProgramFiles.PointTo(programFiles);
        const std::string program = DemoSource("tpz2.exe");
        for (const std::string& medium : {Older, Newer}) {
            CreateDirectoryA(medium.c_str(), nullptr);
            ASSERT_TRUE(CopyFileA(BuildTreePath(SETUP_EXE_UNIX_PATH).c_str(),
                                  (medium + "\\Setup.exe").c_str(), FALSE));
        }
        WriteTestFile(Older + "\\Setup.z",
                      PackageEntryBytes("tpz2.exe", "Program", program) +
                          PackageEntryBytes("Readme.txt", "Read me", SzddLiterals("older")));
        WriteTestFile(Newer + "\\Setup.z",
                      PackageEntryBytes("tpz2.exe", "Program", program) +
                          PackageEntryBytes("Readme.txt", "Read me", SzddLiterals("newer")) +
                          PackageEntryBytes("Docs\\Guide.txt", "Guide", "a new file"));
    }
    void TearDown() override
    {
        SetEnvironmentVariableA("ZORVANE_JOURNAL_CUT", nullptr);
        Clean();
        if (!SharedToolsExisted)
            RemoveKeyTree(HKEY_LOCAL_MACHINE, SharedTools);
    }
    // Nothing of the product: the state of a fresh machine.
    void Clean()
    {
        RemoveKeyTree(HKEY_LOCAL_MACHINE, Entry);
        RemoveKeyTree(HKEY_LOCAL_MACHINE, AddinKey);
        if (!AddinParentExisted)
            RemoveKeyTree(HKEY_LOCAL_MACHINE, AddinParent);
        RemoveTree(ProgramsFolder());
        RemoveTree(Temp.Join("Program Files"));
        DeleteFileA(InstallJournalFile().c_str());
    }
    DWORD Run(const std::string& program, const std::string& arguments, const char* cut = nullptr)
    {
        SetEnvironmentVariableA("ZORVANE_JOURNAL_CUT", cut);
        DeleteFileA(Log.c_str());
        DWORD code = FinishChild(StartChild("\"" + program + "\" " + arguments + " /log=" + Log), RunLimitMs);
        SetEnvironmentVariableA("ZORVANE_JOURNAL_CUT", nullptr);
        return code;
    }
    DWORD Install(const std::string& medium, const char* cut = nullptr)
    {
        return Run(medium + "\\Setup.exe", "/quiet", cut);
    }
    // The product as compared: but its own log of its registrations, no part of the installation,
    // and shortcuts, which hold the times of what they point at.
    MachineSnapshot Snapshot()
    {
        MachineSnapshot state = TakeProductSnapshot({Temp.Join("Program Files")});
        state.erase("file " + Destination + "\\tpz2.log");
        for (auto& item : state)
            if (item.first.size() > 4 && item.first.compare(item.first.size() - 4, 4, ".lnk") == 0)
                item.second = "a shortcut";
        return state;
    }

    // For every N from 1 on: prepare() sets the state before, the run of medium cut at its N-th
    // kind ("record" or "change"), then a whole run, which must leave expected, or, after a cut
    // once the install had committed, what a whole run leaves over the installation (committed).
    // Ends at the first N the run does not reach. Prints what the next run did after each cut.
    // Emulated, where a run takes seconds, every third N (the other builds and routes take every
    // one), so that the whole suite keeps within its time.
    void CutEveryStep(const char* name, const char* kind, void (JournalCut::*prepare)(),
                      const MachineSnapshot& expected, const MachineSnapshot& committed)
    {
        const int stride = EmulatedRoute() ? 3 : 1;
        int cuts = 0;
        for (int n = 1; n < 400; n += stride) {
            SCOPED_TRACE(std::string(name) + ", cut after " + kind + " " + std::to_string(n));
            (this->*prepare)();
            const std::string cut = std::string(kind) + ":" + std::to_string(n);
            DWORD code = Install(Newer, cut.c_str());
            if (code != CutExitCode) {
                EXPECT_EQ(code, 0u) << "the run ends whole once it has fewer than N";
                break;
            }
            ++cuts;
            // Past the commit record the cut run is installed whole; before it, the journal is
            // still to be undone.
            const std::string journal =
                FileExists(InstallJournalFile()) ? ReadTestFile(InstallJournalFile()) : "";
            const bool wasCommitted = journal.empty() || journal.find("\r\nC\r\n") != std::string::npos;
            if (wasCommitted) {
                // The new version whole already: but what the commit had still to delete.
                MachineSnapshot now = Snapshot();
                MachineSnapshot before = expected;
                for (MachineSnapshot* state : {&now, &before})
                    for (auto item = state->begin(); item != state->end();)
                        item = item->first.find("\\~vo") != std::string::npos ||
                                       item->first.find("temporary ") == 0 ||
                                       item->first == "file " + InstallJournalFile()
                                   ? state->erase(item)
                                   : std::next(item);
                EXPECT_EQ(SnapshotDifferences(before, now), "") << "committed, and so whole";
            }
            ASSERT_EQ(Install(Newer), 0u) << ReadTestFile(Log);
            std::cout << "    " << name << ", " << kind << " " << n << ": " << RecoveryOf(Log) << "\n";
            ASSERT_EQ(SnapshotDifferences(wasCommitted ? committed : expected, Snapshot()), "");
        }
        EXPECT_GT(cuts * stride, 10) << "the seam cut the run";
    }

public:
    void Fresh() { Clean(); }
    void OlderInstalled()
    {
        Clean();
        ASSERT_EQ(Install(Older), 0u) << ReadTestFile(Log);
    }

protected:
    SavedBootRequests BootRequests; // the uninstalls' requests to delete their uninstaller
    ScopedTempDir Temp;
    const std::string Older = Temp.Join("older");
    const std::string Newer = Temp.Join("newer");
    const std::string Destination = Temp.Join("Program Files\\TALVIQ\\Project Zorvane PE");
    const std::string Log = Temp.Join("zorvane.log");
    ProgramFilesOverride ProgramFiles;
    bool SharedToolsExisted = false;
    bool AddinParentExisted = false;
};

TEST_F(JournalCut, AFreshInstallCutAtEveryRecordAndChangeIsMadeWholeByTheNextRun)
{
    Clean();
    ASSERT_EQ(Install(Newer), 0u);
    std::cout << "    fresh install of 3 entries: " << FlushesOf(Log) << "\n";
    const MachineSnapshot whole = Snapshot();
    ASSERT_EQ(Install(Newer), 0u);
    std::cout << "    reinstall of the same: " << FlushesOf(Log) << "\n";
    const MachineSnapshot reinstalled = Snapshot();
    for (const char* kind : {"record", "change"})
        CutEveryStep("fresh install", kind, &JournalCut::Fresh, whole, reinstalled);
}

TEST_F(JournalCut, AnUpgradeCutAtEveryRecordAndChangeEndsAsAWholeUpgrade)
{
    OlderInstalled();
    ASSERT_EQ(Install(Newer), 0u);
    const MachineSnapshot whole = Snapshot();
    EXPECT_EQ(ReadTestFile(Destination + "\\Readme.txt"), "newer");
    ASSERT_EQ(Install(Newer), 0u);
    const MachineSnapshot reinstalled = Snapshot();
    for (const char* kind : {"record", "change"})
        CutEveryStep("upgrade", kind, &JournalCut::OlderInstalled, whole, reinstalled);
}

// An upgrade cut halfway, and the run that undoes it cut at each of its steps: the undo runs again
// to the same end.
TEST_F(JournalCut, TheRecoveringRunCutAtEveryStepRecoversAgain)
{
    OlderInstalled();
    ASSERT_EQ(Install(Newer), 0u);
    const MachineSnapshot whole = Snapshot();
    int cuts = 0;
    for (int n = 1; n < 200; ++n) {
        SCOPED_TRACE("recovery cut after change " + std::to_string(n));
        OlderInstalled();
        // Cut after its files and entry: much to undo.
        ASSERT_EQ(Install(Newer, "record:30"), CutExitCode);
        // Held back by the running product, a run changes nothing.
        const MachineSnapshot cutState = Snapshot();
        HANDLE product = CreateMutexA(nullptr, FALSE, "ProjectZorvaneMutex");
        EXPECT_EQ(Install(Older), 1618u);
        CloseHandle(product);
        ASSERT_EQ(SnapshotDifferences(cutState, Snapshot()), "");
        const std::string cut = "change:" + std::to_string(n);
        ASSERT_EQ(Install(Newer, cut.c_str()), CutExitCode);
        const bool recovered = Contains(DiagnosticLogLines(Log),
                                        "recovery: the changes of an install that did not end were undone");
        // The undo's last step deletes the journal: cut there, the next run finds none.
        const bool journalGone = !FileExists(InstallJournalFile());
        ++cuts;
        ASSERT_EQ(Install(Newer), 0u) << ReadTestFile(Log);
        EXPECT_EQ(RecoveryOf(Log), journalGone ? "found no journal"
                                               : "the changes of an install that did not end were undone");
        ASSERT_EQ(SnapshotDifferences(whole, Snapshot()), "");
        if (recovered)
            break;
    }
    EXPECT_GT(cuts, 5);
}

// Runs that end before they change anything leave a cut run's journal as they found it.
TEST_F(JournalCut, RunsThatChangeNothingLeaveTheJournalAsFound)
{
    OlderInstalled();
    ASSERT_EQ(Install(Newer), 0u);
    const MachineSnapshot whole = Snapshot();
    OlderInstalled();
    ASSERT_EQ(Install(Newer, "record:20"), CutExitCode);
    ASSERT_TRUE(FileExists(InstallJournalFile()));
    const MachineSnapshot cut = Snapshot();
    const std::string medium = Newer + "\\Setup.exe";
    const std::string uninstaller = Destination + "\\Setup.exe";
    EXPECT_EQ(Run(medium, "/quiet /bogus"), 1639u);
    EXPECT_EQ(Run(medium, "/quiet /?"), 0u);
    HANDLE product = CreateMutexA(nullptr, FALSE, "ProjectZorvaneMutex");
    EXPECT_EQ(Run(medium, "/quiet"), 1618u);
    EXPECT_EQ(Run(uninstaller, "/r /quiet"), 1618u);
    CloseHandle(product);
    // No to the uninstall's confirmation.
    PROCESS_INFORMATION run = StartChild("\"" + uninstaller + "\" /r");
    HWND confirmation = WaitForProcessWindow(run.dwProcessId, DialogClass, "Uninstall", RunLimitMs);
    ASSERT_NE(confirmation, nullptr);
    PressButton(confirmation, IDNO);
    EXPECT_EQ(FinishChild(run, RunLimitMs), 0u);
    EXPECT_EQ(SnapshotDifferences(cut, Snapshot()), "") << "the journal and the cut run's state as found";
    ASSERT_EQ(Install(Newer), 0u);
    EXPECT_EQ(RecoveryOf(Log), "the changes of an install that did not end were undone");
    EXPECT_EQ(SnapshotDifferences(whole, Snapshot()), "");
}

// An interactive upgrade killed at its first closing question has committed: a later run, held
// back by the running product, changes nothing, and the upgrade stays whole.
TEST_F(JournalCut, AnUpgradeKilledAtItsClosingQuestionStaysUpgraded)
{
    OlderInstalled();
    ASSERT_EQ(Install(Newer), 0u);
    const MachineSnapshot upgraded = Snapshot();
    OlderInstalled();
    PROCESS_INFORMATION run = StartChild("\"" + Newer + "\\Setup.exe\"");
    ASSERT_TRUE(FinishWizardWithDefaults(run.dwProcessId, RunLimitMs)) << "no wizard";
    HWND question = WaitForProcessWindow(run.dwProcessId, DialogClass, "Setup", RunLimitMs);
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(ReadMessageBox(question).Text.substr(0, 15), "Setup complete.");
    TerminateProcess(run.hProcess, 1);
    FinishChild(run, RunLimitMs);
    EXPECT_FALSE(FileExists(InstallJournalFile())) << "committed before the question";
    EXPECT_EQ(SnapshotDifferences(upgraded, Snapshot()), "");

    HANDLE product = CreateMutexA(nullptr, FALSE, "ProjectZorvaneMutex");
    EXPECT_EQ(Run(Destination + "\\Setup.exe", "/r /quiet"), 1618u);
    CloseHandle(product);
    EXPECT_EQ(SnapshotDifferences(upgraded, Snapshot()), "") << "nothing changed, the upgrade intact";
    EXPECT_EQ(ReadTestFile(Destination + "\\Readme.txt"), "newer");
}

// An uninstall cut after each of its steps is finished by the next /r /quiet.
TEST_F(JournalCut, AnUninstallCutAtEachStepIsFinishedByTheNext)
{
    Clean();
    ASSERT_EQ(Install(Newer), 0u);
    const std::string uninstaller = Destination + "\\Setup.exe";
    ASSERT_EQ(Run(uninstaller, "/r /quiet"), 0u);
    const MachineSnapshot removed = Snapshot();
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Entry));
    int cuts = 0;
    for (int n = 1; n < 100; ++n) {
        SCOPED_TRACE("uninstall cut after change " + std::to_string(n));
        Clean();
        ASSERT_EQ(Install(Newer), 0u);
        const std::string cut = "change:" + std::to_string(n);
        DWORD code = Run(uninstaller, "/r /quiet", cut.c_str());
        if (code != CutExitCode) {
            EXPECT_EQ(code, 0u);
            break;
        }
        ++cuts;
        const bool entryLeft = KeyExists(HKEY_LOCAL_MACHINE, Entry);
        code = Run(uninstaller, "/r /quiet");
        std::cout << "    uninstall, change " << n << ": exit " << code << ", " << RecoveryOf(Log) << "\n";
        if (entryLeft) {
            EXPECT_EQ(code, 0u) << ReadTestFile(Log);
            EXPECT_EQ(SnapshotDifferences(removed, Snapshot()), "");
        } else {
            // Cut once the entry was gone: the product is not installed, the journal waits for an
            // install, which drops it.
            EXPECT_EQ(code, 1605u);
            MachineSnapshot now = Snapshot();
            now.erase("file " + InstallJournalFile());
            EXPECT_EQ(SnapshotDifferences(removed, now), "");
        }
    }
    EXPECT_GT(cuts, 3);
}

// The order of a real upgrade's flushes, renames and deletions, from the journal's trace: each old
// file goes aside only after the record naming it is on the disk, and goes for good only after
// the file that replaced it and the commit record are.
TEST_F(JournalCut, AnUpgradeFlushesEachRecordBeforeItsRenameAndEachNewFileBeforeItsAsideGoes)
{
    OlderInstalled();
    const std::string trace = Temp.Join("trace.txt");
    SetEnvironmentVariableA("ZORVANE_JOURNAL_TRACE", trace.c_str());
    DWORD code = Install(Newer);
    SetEnvironmentVariableA("ZORVANE_JOURNAL_TRACE", nullptr);
    ASSERT_EQ(code, 0u);
    std::vector<std::string> events;
    std::string text = ReadTestFile(trace);
    for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        events.push_back(text.substr(at, end - at));
    auto last = [&](size_t before, const std::string& event) {
        for (size_t i = before; i-- > 0;)
            if (events[i] == event)
                return static_cast<long>(i);
        return -1L;
    };
    int renames = 0, deletions = 0, flushes = 0;
    long commit = -1;
    for (size_t i = 0; i < events.size(); ++i) {
        const std::string& event = events[i];
        SCOPED_TRACE(std::to_string(i) + ": " + event);
        if (event.compare(0, 14, "flush journal ") == 0 || event.compare(0, 11, "flush file ") == 0)
            ++flushes;
        if (event == "record C ")
            commit = static_cast<long>(i);
        if (event.compare(0, 13, "rename aside ") == 0) {
            ++renames;
            const std::string target = event.substr(13);
            long recorded = last(i, "record R " + target);
            ASSERT_GE(recorded, 0) << "renamed without its record";
            bool flushed = false;
            for (size_t j = recorded + 1; j < i; ++j)
                flushed = flushed || events[j].compare(0, 14, "flush journal ") == 0;
            EXPECT_TRUE(flushed) << "renamed before its record was flushed";
        }
        if (event.compare(0, 16, "delete aside of ") == 0) {
            ++deletions;
            const std::string target = event.substr(16);
            long renamed = last(i, "rename aside " + target);
            long flushed = last(i, "flush file " + target);
            EXPECT_GE(renamed, 0);
            EXPECT_GT(flushed, renamed) << "its replacement was not flushed after it was written";
            EXPECT_GT(commit, flushed) << "the commit came before the replacing file's flush";
            EXPECT_TRUE(commit >= 0 && events[commit + 1].compare(0, 14, "flush journal ") == 0)
                << "the commit record is flushed before any aside copy goes";
        }
    }
    // Readme.txt, Setup.log, Setup.exe and the three shortcuts are replaced; tpz2.exe holds the same.
    EXPECT_EQ(renames, 6) << text;
    EXPECT_EQ(deletions, renames);
    EXPECT_TRUE(
        Contains(DiagnosticLogLines(Log), "journal: committed; " + std::to_string(flushes) + " disk flushes"))
        << ReadTestFile(Log);
    std::cout << "    an upgrade of 3 entries: " << flushes << " disk flushes, " << renames
              << " files set aside\n";
}

} // namespace
