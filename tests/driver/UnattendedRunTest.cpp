// The real Setup.exe run unattended, as a deployment tool runs it: its own process, switches on the
// command line, the exit code and the diagnostic log read afterwards, and every window it shows
// watched while it runs. Results come from the real file system and registry of the test prefix.
#include "support/ChildProcess.h"
#include "support/PackageBuilder.h"
#include "support/RegistryProbe.h"
#include "support/ScopedTempDir.h"
#include "support/SetupFixtures.h"
#include "uidriver/UiDriver.h"
#include "support/WindowWatch.h"

#include "resource.h"

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

const char Entry[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TALVIQ Project Zorvane PE 2.0";
const char RunKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char AddinRoot[] = "Software\\Microsoft\\Shared Tools";
const DWORD RunLimitMs = 60000;
const char ProgressCaption[] = "Installing TALVIQ Project Zorvane...";

// What one run of Setup.exe did: its exit code and the top-level windows its process showed, as
// "class|caption", in the order they were first shown.
struct RunResult {
    DWORD ExitCode = ~0u;
    std::vector<std::string> Windows;
};

// Runs commandLine to its end (at most RunLimitMs), with every window its process shows watched.
RunResult RunSetup(const std::string& commandLine)
{
    RunResult result;
    WatchedChild setup(commandLine);
    result.ExitCode = setup.Finish(RunLimitMs);
    result.Windows = setup.ShownWindows();
    return result;
}

// Runs one of Wine's own programs to its end.
DWORD RunWine(const std::string& commandLine) { return FinishChild(StartChild(commandLine), RunLimitMs); }

// One medium (Setup.exe and the demo package) in a temporary folder; the product's registry
// entries, shortcuts and proposed Program Files folder are put back after each test.
class UnattendedRun : public testing::Test {
protected:
    void SetUp() override
    {
        SharedToolsExisted = KeyExists(HKEY_LOCAL_MACHINE, AddinRoot);
        std::string programFiles = Temp.Join("Program Files");
        ProgramFiles.PointTo(programFiles);
        CreateDirectoryA(Medium.c_str(), nullptr);
        ASSERT_TRUE(CopyFileA(BuildTreePath(SETUP_EXE_UNIX_PATH).c_str(), Program.c_str(), FALSE));
        ASSERT_TRUE(
            CopyFileA(BuildTreePath(DEMO_PACKAGE_UNIX_PATH).c_str(), (Medium + "\\Setup.z").c_str(), FALSE));
    }
    void TearDown() override
    {
        EXPECT_TRUE(RemoveKeyTree(HKEY_LOCAL_MACHINE, Entry));
        EXPECT_TRUE(RemoveKeyTree(HKEY_LOCAL_MACHINE,
                                  std::string(AddinRoot) + "\\Addin Designer\\TALVIQ Project Zorvane"));
        if (!SharedToolsExisted)
            RemoveKeyTree(HKEY_LOCAL_MACHINE, AddinRoot);
        HKEY run;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, RunKeyPath, 0, KEY_SET_VALUE, &run) == ERROR_SUCCESS) {
            RegDeleteValueA(run, "TPZ20");
            RegCloseKey(run);
        }
        EXPECT_TRUE(RemoveTree(ProgramsFolder()));
        EXPECT_TRUE(RemoveTree(ProgramsFolder(CSIDL_COMMON_PROGRAMS)));
    }

    // Setup.exe of the medium with these arguments.
    RunResult Run(const std::string& arguments) { return RunSetup("\"" + Program + "\" " + arguments); }

    ScopedTempDir Temp;
    const std::string Medium = Temp.Join("medium");
    const std::string Program = Medium + "\\Setup.exe";
    const std::string Log = Temp.Join("Logs\\zorvane.log");
    ProgramFilesOverride ProgramFiles;
    bool SharedToolsExisted = false;
};

TEST_F(UnattendedRun, QuietInstallIntoDirAndQuietUninstallThroughTheEntryShowNoWindowAndSayItInTheLog)
{
    const std::string dest = Temp.Join("Apps\\Zorvane Demo");
    RunResult install = Run("/quiet /dir=\"" + dest + "\" /log=" + Log);
    EXPECT_EQ(install.ExitCode, 0u);
    EXPECT_EQ(install.Windows, std::vector<std::string>{}) << "a window of a quiet run";

    for (const char* file : {"tpz2.exe", "Wendlor.exe", "Readme.txt", "Projects\\Sample.tpz", "Setup.exe"})
        EXPECT_TRUE(FileExists(dest + "\\" + file)) << file;
    EXPECT_EQ(ReadTestFile(dest + "\\Setup.log").rfind("#" + dest + "\r\n+" + dest + "\\tpz2.exe\r\n", 0), 0u)
        << "/dir is the installation folder itself, without the suffix";
    EXPECT_EQ(ReadTestFile(dest + "\\tpz2.log"), "/RegServer\r\n");
    const std::string menu = ProgramsFolder();
    std::vector<std::string> links = FilesMatching(menu + "\\*.lnk");
    std::sort(links.begin(), links.end());
    EXPECT_EQ(links, (std::vector<std::string>{"Project Zorvane PE Demo.lnk",
                                               "Uninstall Project Zorvane Demo.lnk", "Wendlor.lnk"}));
    EXPECT_EQ(QueryValue(HKEY_LOCAL_MACHINE, Entry, "InstallLocation").Data, StoredText(dest));
    EXPECT_EQ(QueryValue(HKEY_LOCAL_MACHINE, Entry, "UninstallString").Data,
              StoredText("\"" + dest + "\\Setup.exe\" /r"));
    RegistryValue quiet = QueryValue(HKEY_LOCAL_MACHINE, Entry, "QuietUninstallString");
    EXPECT_EQ(quiet.Data, StoredText("\"" + dest + "\\Setup.exe\" /r /quiet"));
    EXPECT_FALSE(QueryValue(HKEY_LOCAL_MACHINE, RunKeyPath, "TPZ20").Found) << "No to the first question";
    // The commit, before the questions, counts its disk flushes (a number of the package's).
    std::vector<std::string> logged = DiagnosticLogLines(Log);
    auto commit = std::find_if(logged.begin(), logged.end(), [](const std::string& line) {
        return line.find("journal: committed; ") == 0 && line.find(" disk flushes") != std::string::npos;
    });
    ASSERT_NE(commit, logged.end());
    EXPECT_EQ(commit - logged.begin(), 13) << "after the conversion, before the questions";
    logged.erase(commit);
    EXPECT_EQ(
        logged,
        (std::vector<std::string>{
            "start: install, quiet: \"" + Program + "\" /quiet /dir=\"" + dest + "\" /log=" + Log,
            "guard: the product is not running",
            "defaults: " + Temp.Join("Program Files"),
            "package: " + Medium + "\\Setup.z",
            "destination: " + dest,
            "destination folder: in place",
            "Setup.log: created",
            "extraction: done",
            "registration: written",
            "self-copy: " + dest + "\\Setup.exe",
            "shortcuts: created",
            "/RegServer: done",
            "conversion: no previous version",
            "Setup, question, answered No: Setup complete.",
            "    Do you wish TALVIQ Project Zorvane to run each time Windows starts?",
            "Setup, question, answered No: Do you want to start TALVIQ Project Zorvane 2 Demo right now?",
            "exit code: 0",
        }));

    // As a deployment tool removes it: the value's command line, with a log of its own.
    const std::string removalLog = Temp.Join("Logs\\remove.log");
    RunResult uninstall = RunSetup(quiet.Data.c_str() + std::string(" /log=") + removalLog);
    EXPECT_EQ(uninstall.ExitCode, 0u) << "the uninstaller going at the next restart needs no restart";
    EXPECT_EQ(uninstall.Windows, std::vector<std::string>{});
    for (const char* file : {"tpz2.exe", "Wendlor.exe", "Readme.txt", "Projects", "Setup.log"})
        EXPECT_FALSE(FileExists(dest + "\\" + file) || FolderExists(dest + "\\" + file)) << file;
    EXPECT_FALSE(FolderExists(menu));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Entry));
    std::vector<std::string> removal = DiagnosticLogLines(removalLog);
    ASSERT_GE(removal.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(removal.end() - 3, removal.end()),
              (std::vector<std::string>{"Uninstall, warning: Uninstall removed program files.",
                                        "    You should reboot your computer to complete uninstall.",
                                        "exit code: 0"}));
    EXPECT_TRUE(Contains(removal, "unregistration: done"));
    EXPECT_EQ(ReadTestFile(dest + "\\tpz2.log"), "/RegServer\r\n/UnRegServer\r\n");

    // The restart, as Wine simulates it, takes the uninstaller; the product's own log was never
    // part of the installation and stays.
    EXPECT_EQ(RunWine("wineboot.exe -r"), 0u);
    EXPECT_FALSE(FileExists(dest + "\\Setup.exe"));
}

TEST_F(UnattendedRun, PassiveInstallShowsTheBackdropAndProgressOnlyAndTakesTheGivenAnswers)
{
    const std::string dest = Temp.Join("Program Files\\TALVIQ\\Project Zorvane PE");
    RunResult install = Run("/passive /runatstartup /log=" + Log);
    EXPECT_EQ(install.ExitCode, 0u);
    EXPECT_EQ(std::set<std::string>(install.Windows.begin(), install.Windows.end()),
              (std::set<std::string>{"PZSetupClass|TALVIQ Project Zorvane 2 Demo Setup",
                                     "#32770|Installing TALVIQ Project Zorvane..."}))
        << "no wizard, question or message box";
    EXPECT_TRUE(FileExists(dest + "\\tpz2.exe")) << "the default folder with the product's suffix";
    EXPECT_EQ(QueryValue(HKEY_LOCAL_MACHINE, RunKeyPath, "TPZ20").Data,
              StoredText("\"" + dest + "\\tpz2.exe\""));
    std::vector<std::string> lines = DiagnosticLogLines(Log);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2],
              "Setup, question, answered No: Do you want to start TALVIQ Project Zorvane 2 Demo right now?");
    EXPECT_EQ(RunSetup("\"" + dest + "\\Setup.exe\" /r /quiet").ExitCode, 0u);
    EXPECT_FALSE(QueryValue(HKEY_LOCAL_MACHINE, RunKeyPath, "TPZ20").Found);
}

TEST_F(UnattendedRun, QuestionMarkAloneListsTheSwitchesAndCodesInABoxAndDoesNothingElse)
{
    PROCESS_INFORMATION process = StartChild("\"" + Program + "\" /?");
    ASSERT_NE(process.hProcess, nullptr);
    HWND box = WaitForProcessWindow(process.dwProcessId, DialogClass, "Setup", RunLimitMs);
    ASSERT_NE(box, nullptr);
    MessageBoxContent shown = ReadMessageBox(box);
    EXPECT_EQ(FindWindowA("PZSetupClass", nullptr), nullptr) << "no backdrop";
    PressButton(box, IDOK);
    EXPECT_EQ(FinishChild(process, RunLimitMs), 0u);
    EXPECT_EQ(shown.IconStyle, static_cast<UINT>(MB_ICONASTERISK));
    for (const char* listed :
         {"/quiet", "/passive", "/dir=FOLDER", "/log=FILE", "/runatstartup", "/launch", "/qn", "/qb",
          "/norestart", "/allusers", "3010", "1602", "1603", "1605", "1618", "1619", "1620", "1622", "1639"})
        EXPECT_NE(shown.Text.find(listed), std::string::npos) << listed;
    EXPECT_FALSE(FolderExists(Temp.Join("Program Files")));
}

// Each exit code from a real cause: the code, the log's last message, and nothing installed.
TEST_F(UnattendedRun, EachFailureEndsWithItsExitCodeAndItsMessageInTheLog)
{
    const std::string wontDo = Temp.Join("Never");
    // One character more than the install takes: refused before the guard, nothing made.
    const std::string tooLong = Temp.Join(std::string(246 - Temp.Path().size() - 1, 'd'));
    const struct {
        const char* Cause;
        std::string Arguments;
        DWORD Code;
        std::string Message; // the start of the log's line before the exit code
    } cases[] = {
        {"missing package", "/quiet /dir=" + wontDo, 1619,
         "Setup, error: File not found: " + Medium + "\\Setup.z"},
        {"product running", "/quiet /dir=" + wontDo, 1618,
         "Setup, message, answered Cancel: Exit TALVIQ Project Zorvane then press OK to continue"},
        {"another Setup", "/qn /dir=" + wontDo, 1618,
         "Setup, error: Another Setup of TALVIQ Project Zorvane 2 Demo is running."},
        {"not installed", "/r /passive", 1605,
         "Uninstall, error: Unable to locate TALVIQ Project Zorvane 2 Demo installation."},
        {"unknown switch", "/quiet /dir=" + wontDo + " /qiet", 1639,
         "Setup, error: Invalid command line: unknown argument: /qiet"},
        {"relative folder", "/quiet /dir=Apps\\Zorvane", 1639,
         "Setup, error: Invalid command line: /dir must name a folder below the root of a local drive"},
        {"folder too long", "/passive /dir=" + tooLong, 1639,
         "Setup, error: Invalid command line: /dir is longer than 245 characters"},
        {"help", "/quiet /?", 0, "Setup, information: Setup.exe [/r] [/quiet | /passive]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Cause);
        std::string cause = c.Cause;
        DeleteFileA(Log.c_str());
        if (cause == "missing package")
            DeleteFileA((Medium + "\\Setup.z").c_str());
        HANDLE product =
            cause == "product running" ? CreateMutexA(nullptr, FALSE, "ProjectZorvaneMutex") : nullptr;
        HANDLE otherSetup = cause == "another Setup"
                                ? CreateMutexA(nullptr, FALSE, "Global\\ProjectZorvaneSetupMutex")
                                : nullptr;
        RunResult result = Run(c.Arguments + " /log=" + Log);
        for (HANDLE held : {product, otherSetup})
            if (held != nullptr)
                CloseHandle(held);
        EXPECT_EQ(result.ExitCode, c.Code);
        std::vector<std::string> lines = DiagnosticLogLines(Log);
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines.back(), "exit code: " + std::to_string(c.Code));
        auto message = lines.end() - 2;
        while (message != lines.begin() && message->rfind("    ", 0) == 0)
            --message; // back over the continuation lines
        EXPECT_EQ(message->rfind(c.Message, 0), 0u) << *message;
        // A passive run puts up its backdrop only once the line has been read.
        std::vector<std::string> windows;
        if (cause == "not installed")
            windows.push_back("PZSetupClass|TALVIQ Project Zorvane 2 Demo Setup");
        EXPECT_EQ(result.Windows, windows);
        EXPECT_FALSE(FolderExists(wontDo));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Entry));
    }

    // Without a log there is nowhere to tell what happened: the run does nothing.
    WriteTestFile(Temp.Join("Blocked"), "a file where the log's folder should be");
    EXPECT_EQ(Run("/quiet /dir=" + wontDo + " /log=" + Temp.Join("Blocked\\zorvane.log")).ExitCode, 1622u);
    EXPECT_FALSE(FolderExists(wontDo));
}

// The spellings of deployment tools: each runs unattended at its level, shows no window, and with
// /? only logs the list.
TEST_F(UnattendedRun, EachSpellingOfTheToolsRunsUnattendedAtItsLevel)
{
    const struct {
        const char* Spelling;
        const char* Level;
    } cases[] = {
        {"/quiet", "install, quiet"},     {"/qn", "install, quiet"},     {"-Q", "install, quiet"},
        {"/s", "install, quiet"},         {"/SILENT", "install, quiet"}, {"/verysilent", "install, quiet"},
        {"/passive", "install, passive"}, {"-qb", "install, passive"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Spelling);
        DeleteFileA(Log.c_str());
        RunResult result = Run(std::string(c.Spelling) + " /norestart /? /log=" + Log);
        EXPECT_EQ(result.ExitCode, 0u);
        EXPECT_EQ(result.Windows, std::vector<std::string>{});
        std::vector<std::string> lines = DiagnosticLogLines(Log);
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[0].rfind("start: " + std::string(c.Level) + ": ", 0), 0u) << lines[0];
        EXPECT_EQ(lines[1].rfind("Setup, information: Setup.exe [/r]", 0), 0u) << lines[1];
    }
    EXPECT_FALSE(FolderExists(Temp.Join("Program Files")));
}

// An upgrade without /dir goes where the product is (no second copy in Program Files), and an
// interactive install writes the quiet uninstall command too; /norestart is noted.
TEST_F(UnattendedRun, QuietReinstallWithoutDirGoesIntoTheRecordedFolder)
{
    const std::string dest = Temp.Join("Apps\\Zorvane Demo");
    ASSERT_EQ(Run("/quiet /dir=\"" + dest + "\"").ExitCode, 0u);
    DeleteFileA((dest + "\\Readme.txt").c_str());

    RunResult again = Run("/qn /norestart /log=" + Log);
    EXPECT_EQ(again.ExitCode, 0u);
    EXPECT_TRUE(FileExists(dest + "\\Readme.txt")) << "installed again where it was";
    EXPECT_FALSE(FolderExists(Temp.Join("Program Files\\TALVIQ"))) << "no second copy";
    EXPECT_EQ(QueryValue(HKEY_LOCAL_MACHINE, Entry, "InstallLocation").Data, StoredText(dest));
    std::vector<std::string> lines = DiagnosticLogLines(Log);
    for (const std::string& line :
         {std::string("/norestart: noted; Setup never restarts Windows"), "installed product: " + dest,
          "destination: " + dest, std::string("exit code: 0")})
        EXPECT_TRUE(Contains(lines, line)) << line;
}

// A file of the product that another program holds open cannot go now: it goes at the restart,
// the log names it and the run says 3010. /allusers shortcuts are recorded and removed.
TEST_F(UnattendedRun, AllUsersShortcutsAndAHeldFileLeftForTheRestart)
{
    const std::string dest = Temp.Join("Apps\\Zorvane Demo");
    const std::string common = ProgramsFolder(CSIDL_COMMON_PROGRAMS);
    ASSERT_EQ(Run("/quiet /allusers /dir=\"" + dest + "\" /log=" + Log).ExitCode, 0u);
    EXPECT_TRUE(FileExists(common + "\\Uninstall Project Zorvane Demo.lnk"));
    EXPECT_FALSE(FolderExists(ProgramsFolder())) << "not in the user's own Start menu";
    EXPECT_NE(ReadTestFile(dest + "\\Setup.log").find("#" + common + "\r\n+" + common + "\\"),
              std::string::npos);
    EXPECT_TRUE(Contains(DiagnosticLogLines(Log), "shortcuts: created for all users"));

    const std::string held = dest + "\\Readme.txt";
    HANDLE reader =
        CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    const std::string removalLog = Temp.Join("Logs\\remove.log");
    RunResult uninstall = Run("/r /quiet /log=" + removalLog);
    CloseHandle(reader);
    EXPECT_EQ(uninstall.ExitCode, 3010u);
    EXPECT_FALSE(FolderExists(common));
    EXPECT_FALSE(FileExists(dest + "\\tpz2.exe"));
    EXPECT_TRUE(FileExists(held));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Entry));
    std::vector<std::string> lines = DiagnosticLogLines(removalLog);
    EXPECT_TRUE(Contains(lines, "in use, deleted at the next restart: " + held));
    EXPECT_EQ(lines.back(), "exit code: 3010");

    EXPECT_EQ(RunWine("wineboot.exe -r"), 0u);
    EXPECT_FALSE(FileExists(held));
}

// A package whose last entry is cut short is damaged (1620), not merely failed.
TEST_F(UnattendedRun, ADamagedPackageEndsWith1620)
{
    std::string package = PackageEntryBytes("Readme.txt", "Read me", "the content of the file");
    WriteTestFile(Medium + "\\Setup.z", package.substr(0, package.size() - 4));
    RunResult result = Run("/quiet /dir=" + Temp.Join("Damaged") + " /log=" + Log);
    EXPECT_EQ(result.ExitCode, 1620u);
    std::vector<std::string> lines = DiagnosticLogLines(Log);
    EXPECT_TRUE(
        Contains(lines, "Setup, error: Unexpected end of file while reading '" + Medium + "\\Setup.z'"))
        << ReadTestFile(Log);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Entry));
    EXPECT_FALSE(FileExists(Temp.Join("Damaged")));
}

// A passive run keeps answering while one large entry is written, and Cancel stops it at the next
// entry with 1602, undoing what was done.
TEST_F(UnattendedRun, PassiveRunAnswersWithin100MsDuringALargeEntryAndCancelEndsWith1602)
{
    const std::string large(96 * 1024 * 1024, 'z');
    WriteTestFile(Medium + "\\Setup.z", ReadTestFile(BuildTreePath(DEMO_PACKAGE_UNIX_PATH)) +
                                            PackageEntryBytes("Large.dat", "Large data", large) +
                                            PackageEntryBytes("After.txt", "After", "after"));
    for (bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled" : "to the end");
        const std::string dest = Temp.Join(cancel ? "Cancelled" : "Complete");
        DeleteFileA(Log.c_str());
        // Cancel is pressed from the dialog's own thread the moment it names the large entry,
        // however late the test would have looked; the test asks throughout the run, the large
        // entry included, and no answer may take 100 ms.
        const TextTrigger cancelAtLarge = {IDC_PROGRESS_STATUS, "Large data", IDCANCEL};
        WatchedChild setup("\"" + Program + "\" /passive /dir=" + dest + " /log=" + Log,
                           cancel ? &cancelAtLarge : nullptr);
        ASSERT_TRUE(setup.WaitForShown("#32770|" + std::string(ProgressCaption), RunLimitMs));
        HWND progress =
            WaitForProcessWindow(setup.Process().dwProcessId, DialogClass, ProgressCaption, RunLimitMs);
        ASSERT_NE(progress, nullptr);
        int answered = 0, late = 0;
        while (WaitForSingleObject(setup.Process().hProcess, 0) == WAIT_TIMEOUT && IsWindow(progress)) {
            DWORD_PTR result = 0;
            // A window that goes while it is asked is no late answer.
            if (SendMessageTimeoutA(progress, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 100, &result) != 0)
                ++answered;
            else if (IsWindow(progress))
                ++late;
            Sleep(10);
        }
        const DWORD exitCode = setup.Finish(RunLimitMs);
        EXPECT_EQ(setup.TriggerPressed(), cancel);
        EXPECT_EQ(late, 0) << answered << " answers in time";
        EXPECT_EQ(FileExists(dest + "\\Large.dat"), !cancel);
        EXPECT_EQ(FileExists(dest + "\\After.txt"), !cancel);
        EXPECT_EQ(GetFileAttributesA(dest.c_str()) != INVALID_FILE_ATTRIBUTES, !cancel);
        EXPECT_EQ(exitCode, cancel ? 1602u : 0u);
        EXPECT_EQ(Contains(DiagnosticLogLines(Log), "Setup, error: Setup was cancelled by the user."),
                  cancel);
        if (!cancel)
            RunSetup("\"" + dest + "\\Setup.exe\" /r /quiet");
    }
}

// The log says what happened: without the product's program, its unregistration cannot start;
// the removal goes on, and the run says it failed (the COM server may stay registered).
TEST_F(UnattendedRun, AnUnregistrationThatCannotStartIsNotLoggedAsDone)
{
    const std::string dest = Temp.Join("Apps\\Zorvane Demo");
    ASSERT_EQ(Run("/quiet /dir=\"" + dest + "\"").ExitCode, 0u);
    // Wine's menu builder may still read the program's icon for the new shortcuts for a moment.
    bool deleted = false;
    for (DWORD start = GetTickCount(); !deleted && GetTickCount() - start < RunLimitMs; Sleep(50))
        deleted = DeleteFileA((dest + "\\tpz2.exe").c_str()) != 0;
    ASSERT_TRUE(deleted);
    RunResult uninstall = Run("/r /quiet /log=" + Log);
    EXPECT_EQ(uninstall.ExitCode, 1603u);
    std::vector<std::string> lines = DiagnosticLogLines(Log);
    EXPECT_TRUE(Contains(lines, "Setup, error: Failed to unregister TALVIQ Project Zorvane"));
    EXPECT_FALSE(Contains(lines, "unregistration: done"));
    EXPECT_FALSE(FileExists(dest + "\\Wendlor.exe")) << "the removal went on";
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Entry));
}

// How the product's registration ended is logged. One still running after its 10 s is ended,
// and fails an unattended run as one that cannot start does: 1603, undone.
TEST_F(UnattendedRun, TheRegistrationsEndIsLoggedAndOneThatDoesNotEndFailsTheRun)
{
    WriteTestFile(Medium + "\\Setup.z",
                  PackageEntryBytes("tpz2.exe", "Program", ReadTestFile(BesideTests("FakeProduct.exe"))) +
                      PackageEntryBytes("Readme.txt", "Read me", SzddLiterals("read me")));
    const std::string dest = Temp.Join("Apps\\Zorvane Demo");
    EXPECT_EQ(Run("/quiet /dir=\"" + dest + "\" /log=" + Log).ExitCode, 1603u);
    std::vector<std::string> lines = DiagnosticLogLines(Log);
    for (const char* line : {"/RegServer: still running after 10 s",
                             "Setup, error: Failed to register TALVIQ Project Zorvane with Windows registry",
                             "undo: done; nothing of this run is left"})
        EXPECT_TRUE(Contains(lines, line)) << line;
    EXPECT_FALSE(FolderExists(dest));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Entry));
    HANDLE product = OpenMutexA(SYNCHRONIZE, FALSE, "ProjectZorvaneMutex");
    EXPECT_EQ(product, nullptr) << "the registration was left running";
    if (product != nullptr)
        CloseHandle(product);

    // The demo product cannot note its switches when its log's name is taken: it ends with 1.
    ASSERT_TRUE(
        CopyFileA(BuildTreePath(DEMO_PACKAGE_UNIX_PATH).c_str(), (Medium + "\\Setup.z").c_str(), FALSE));
    ASSERT_TRUE(CreateDirectoryA(Temp.Join("Apps").c_str(), nullptr) &&
                CreateDirectoryA(dest.c_str(), nullptr) &&
                CreateDirectoryA((dest + "\\tpz2.log").c_str(), nullptr));
    DeleteFileA(Log.c_str());
    EXPECT_EQ(Run("/quiet /dir=\"" + dest + "\" /log=" + Log).ExitCode, 0u);
    EXPECT_TRUE(Contains(DiagnosticLogLines(Log), "/RegServer: ended with exit code 1"));
    DeleteFileA(Log.c_str());
    EXPECT_EQ(Run("/r /quiet /log=" + Log).ExitCode, 0u);
    EXPECT_TRUE(Contains(DiagnosticLogLines(Log), "unregistration: ended with exit code 1, going on"));
}

} // namespace
