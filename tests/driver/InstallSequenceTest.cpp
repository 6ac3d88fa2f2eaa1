// The real Setup.exe installing, started as its own process beside a package and driven as a
// user would; results read from the real file system and registry of the test prefix.
#include "support/ChildProcess.h"
#include "support/PackageBuilder.h"
#include "support/RegistryProbe.h"
#include "support/ScopedTempDir.h"
#include "support/SetupFixtures.h"
#include "uidriver/UiDriver.h"

#include <windows.h>
#include <prsht.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const char UninstallEntry[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TALVIQ Project Zorvane PE 2.0";
const char OldUninstall[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TALVIQ Project Zorvane 1.0";
const char AddinKey[] = "Software\\Microsoft\\Shared Tools\\Addin Designer\\TALVIQ Project Zorvane";
// The add-in key's ancestors, which an installation may create: put back as they were.
const char* const AddinAncestors[] = {"Software\\Microsoft\\Shared Tools\\Addin Designer",
                                      "Software\\Microsoft\\Shared Tools"};
const char RunValues[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char Suffix[] = "\\TALVIQ\\Project Zorvane PE";
const char ProgressCaption[] = "Installing TALVIQ Project Zorvane...";
const char RunQuestion[] =
    "Setup complete.\rDo you wish TALVIQ Project Zorvane to run each time Windows starts?";
const char StartQuestion[] = "Do you want to start TALVIQ Project Zorvane 2 Demo right now?";
const DWORD RunTimeoutMs = 30000;

void DeleteValue(HKEY root, const char* keyPath, const char* name)
{
    HKEY key;
    if (RegOpenKeyExA(root, keyPath, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, name);
        RegCloseKey(key);
    }
}

// One installation run in a folder of its own: Setup.exe and a package in Medium(), the proposed
// Program Files folder pointed at ProgramFiles() for the run; every registry value, shortcut and
// file the run makes is removed afterwards.
class InstallRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* key : AddinAncestors)
            AncestorsExisted.push_back(KeyExists(HKEY_LOCAL_MACHINE, key));
        CreateDirectoryA(Medium().c_str(), nullptr);
        ASSERT_TRUE(CopyFileA(BuildTreePath(SETUP_EXE_UNIX_PATH).c_str(), SetupProgram().c_str(), FALSE));
        ProgramFiles.PointTo(Temp.Join("Program Files"));
    }
    void TearDown() override
    {
        if (Process.hProcess != nullptr) {
            if (WaitForSingleObject(Process.hProcess, 0) == WAIT_TIMEOUT) {
                ADD_FAILURE() << "Setup.exe still running; terminated";
                TerminateProcess(Process.hProcess, 1);
                WaitForSingleObject(Process.hProcess, 10000);
            }
            CloseHandle(Process.hThread);
            CloseHandle(Process.hProcess);
        }
        EXPECT_TRUE(RemoveKeyTree(HKEY_LOCAL_MACHINE, UninstallEntry));
        EXPECT_TRUE(RemoveKeyTree(HKEY_LOCAL_MACHINE, OldUninstall));
        EXPECT_TRUE(RemoveKeyTree(HKEY_LOCAL_MACHINE, AddinKey));
        for (size_t i = 0; i < AncestorsExisted.size(); ++i)
            if (!AncestorsExisted[i])
                RemoveKeyTree(HKEY_LOCAL_MACHINE, AddinAncestors[i]);
        DeleteValue(HKEY_LOCAL_MACHINE, RunValues, "TPZ20");
        EXPECT_TRUE(RemoveTree(ProgramsFolder()));
    }

    std::string Medium() const { return Temp.Join("medium"); }
    std::string SetupProgram() const { return Medium() + "\\Setup.exe"; }
    std::string Destination() const { return Temp.Join("Program Files") + Suffix; }
    // Proposes a Program Files folder under which Destination() has length characters; returns it.
    std::string ProposeDestinationOfLength(size_t length)
    {
        std::string base = Temp.Join("Program Files");
        base += "\\" + std::string(length - (sizeof Suffix - 1) - base.size() - 1, 'p');
        ProgramFiles.PointTo(base);
        return base + Suffix;
    }

    void UseDemoPackage()
    {
        ASSERT_TRUE(CopyFileA(BuildTreePath(DEMO_PACKAGE_UNIX_PATH).c_str(), (Medium() + "\\Setup.z").c_str(),
                              FALSE));
    }

    // Starts program (Setup.exe of Medium() when empty); named as the application too, so that a
    // program without the extension .exe runs as it is named.
    void Start(const std::string& program = "", const char* arguments = "")
    {
        std::string path = program.empty() ? SetupProgram() : program;
        Process = StartChild("\"" + path + "\"" + arguments, path.c_str());
        ASSERT_NE(Process.hProcess, nullptr);
    }
    // Waits for the wizard, goes to page (0 to 2) and presses button there.
    void DriveWizard(int page, int button)
    {
        HWND sheet = WaitForProcessWindow(Process.dwProcessId, DialogClass, "Welcome", RunTimeoutMs);
        ASSERT_NE(sheet, nullptr) << "no wizard";
        HWND current = CurrentSheetPage(sheet);
        for (int i = 0; i < page; ++i) {
            PressSheetButton(sheet, PSBTN_NEXT);
            current = WaitForSheetPageChange(sheet, current);
            ASSERT_NE(current, nullptr);
        }
        PressSheetButton(sheet, button);
        ASSERT_TRUE(WaitForWindowGone(sheet, RunTimeoutMs));
    }
    // Waits for the next message box of Setup.exe, presses button and returns what it showed.
    MessageBoxContent Answer(int button)
    {
        // The wizard and the progress dialog are dialogs too, and so is a box still being made: a
        // message box is the one whose text can be read.
        DWORD start = GetTickCount();
        while (GetTickCount() - start < RunTimeoutMs) {
            HWND box = WaitForProcessWindow(Process.dwProcessId, DialogClass, nullptr, 200);
            if (box == nullptr || WindowText(box).empty() || WindowText(box) == ProgressCaption)
                continue;
            MessageBoxContent content = ReadMessageBox(box);
            if (content.Text.empty() || content.ButtonIds.empty())
                continue;
            PressButton(box, button);
            WaitForWindowGone(box);
            return content;
        }
        ADD_FAILURE() << "no message box";
        return {};
    }
    void ExpectEnded()
    {
        EXPECT_EQ(WaitForSingleObject(Process.hProcess, RunTimeoutMs), WAIT_OBJECT_0)
            << "Setup.exe did not end";
        CloseHandle(Process.hThread);
        CloseHandle(Process.hProcess);
        Process = {};
    }
    // Runs the installed uninstaller as its shortcut does and answers its boxes in turn; returns
    // what each showed.
    std::vector<MessageBoxContent> Uninstall(std::vector<int> answers)
    {
        Start(Destination() + "\\Setup.exe", " /r");
        std::vector<MessageBoxContent> shown;
        for (int answer : answers)
            shown.push_back(Answer(answer));
        ExpectEnded();
        return shown;
    }
    void InstallWithDefaults(int runAnswer, int startAnswer, const std::string& program = "")
    {
        Start(program);
        DriveWizard(2, PSBTN_FINISH);
        MessageBoxContent run = Answer(runAnswer);
        EXPECT_EQ(run.Text, RunQuestion);
        EXPECT_EQ(run.Caption, "Setup");
        EXPECT_EQ(run.IconStyle, static_cast<UINT>(MB_ICONQUESTION));
        EXPECT_EQ(run.ButtonIds, (std::vector<int>{IDYES, IDNO}));
        MessageBoxContent start = Answer(startAnswer);
        EXPECT_EQ(start.Text, StartQuestion);
        EXPECT_EQ(start.IconStyle, static_cast<UINT>(MB_ICONQUESTION));
        ExpectEnded();
    }

    ScopedTempDir Temp;
    ProgramFilesOverride ProgramFiles;
    std::vector<bool> AncestorsExisted;
    PROCESS_INFORMATION Process = {};
};

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            lines.push_back(text.substr(at) + "<no line end>");
            break;
        }
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

std::string DemoSource(const char* relative)
{
    return ReadTestFile(BuildTreePath(DEMO_SOURCES_UNIX_PATH) + "\\" + relative);
}

} // namespace

TEST_F(InstallRun, DefaultInstallPutsEveryPieceInPlaceAndAnsweringNoChangesNothingMore)
{
    UseDemoPackage();
    InstallWithDefaults(IDNO, IDNO);
    std::string dest = Destination();

    for (const char* file : {"tpz2.exe", "Wendlor.exe"})
        EXPECT_EQ(ReadTestFile(dest + "\\" + file), DemoSource(file)) << file;
    EXPECT_EQ(ReadTestFile(dest + "\\Readme.txt"), DemoSource("files\\Readme.txt"));
    EXPECT_EQ(ReadTestFile(dest + "\\Projects\\Sample.tpz"), DemoSource("files\\Sample.tpz"));
    EXPECT_EQ(ReadTestFile(dest + "\\Setup.exe"), ReadTestFile(SetupProgram())) << "the uninstaller copy";

    std::string menu = ProgramsFolder();
    EXPECT_EQ(
        Lines(ReadTestFile(dest + "\\Setup.log")),
        (std::vector<std::string>{"#" + dest, "+" + dest + "\\tpz2.exe", "+" + dest + "\\Wendlor.exe",
                                  "+" + dest + "\\Readme.txt", "#" + dest + "\\Projects\\",
                                  "+" + dest + "\\Projects\\Sample.tpz", "#" + menu,
                                  "+" + menu + "\\Project Zorvane PE Demo.lnk", "+" + menu + "\\Wendlor.lnk",
                                  "+" + menu + "\\Uninstall Project Zorvane Demo.lnk"}));
    for (const char* link :
         {"Project Zorvane PE Demo.lnk", "Wendlor.lnk", "Uninstall Project Zorvane Demo.lnk"})
        EXPECT_TRUE(FileExists(menu + "\\" + link)) << link;

    EXPECT_EQ(QueryValue(HKEY_LOCAL_MACHINE, UninstallEntry, "InstallLocation").Data, StoredText(dest));
    EXPECT_EQ(QueryValue(HKEY_LOCAL_MACHINE, UninstallEntry, "UninstallString").Data,
              StoredText("\"" + dest + "\\Setup.exe\" /r"));
    EXPECT_EQ(QueryValue(HKEY_LOCAL_MACHINE, UninstallEntry, "QuietUninstallString").Data,
              StoredText("\"" + dest + "\\Setup.exe\" /r /quiet"))
        << "deployment tools can remove what a person installed";
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, AddinKey));
    EXPECT_FALSE(QueryValue(HKEY_LOCAL_MACHINE, RunValues, "TPZ20").Found);
    // The product registered its COM server and, with no previous version, converted nothing.
    EXPECT_EQ(ReadTestFile(dest + "\\tpz2.log"), "/RegServer\r\n");
}

TEST_F(InstallRun, YesToBothQuestionsRunsTheProductAtEveryStartAndNow)
{
    UseDemoPackage();
    InstallWithDefaults(IDYES, IDYES);
    std::string command = "\"" + Destination() + "\\tpz2.exe\"";
    EXPECT_EQ(QueryValue(HKEY_LOCAL_MACHINE, RunValues, "TPZ20").Data, StoredText(command));
    HWND product = WaitForWindow("ProjectZorvane_Class", nullptr, RunTimeoutMs);
    ASSERT_NE(product, nullptr) << "the product was not started";
    DWORD productProcess = 0;
    GetWindowThreadProcessId(product, &productProcess);
    HANDLE handle = OpenProcess(SYNCHRONIZE, FALSE, productProcess);
    PostMessageA(product, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForSingleObject(handle, RunTimeoutMs), WAIT_OBJECT_0);
    CloseHandle(handle);
}

TEST_F(InstallRun, PreviousVersionDataIsConvertedByTheInstalledProduct)
{
    UseDemoPackage();
    std::string old = Temp.Join("Old Zorvane");
    CreateDirectoryA(old.c_str(), nullptr);
    WriteTestFile(old + "\\Zorvane.prm", "old settings");
    SetRawValue(HKEY_LOCAL_MACHINE, OldUninstall, "InstallLocation", REG_SZ, old.c_str(),
                static_cast<DWORD>(old.size() + 1));
    InstallWithDefaults(IDNO, IDNO);
    EXPECT_EQ(ReadTestFile(Destination() + "\\tpz2.log"), "/RegServer\r\n/c " + old + "\r\n");
}

TEST_F(InstallRun, ReinstallReplacesLogAndUninstallerAndKeepsFilesThePackageLacks)
{
    UseDemoPackage();
    InstallWithDefaults(IDNO, IDNO);
    std::string dest = Destination();
    WriteTestFile(dest + "\\Setup.exe", "an old uninstaller");
    WriteTestFile(dest + "\\Mine.txt", "the user's own");
    InstallWithDefaults(IDNO, IDNO);
    EXPECT_EQ(ReadTestFile(dest + "\\Setup.exe"), ReadTestFile(SetupProgram()));
    EXPECT_EQ(ReadTestFile(dest + "\\Mine.txt"), "the user's own");
    std::vector<std::string> log = Lines(ReadTestFile(dest + "\\Setup.log"));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "#" + dest);
    // Replace-if-newer files of equal version and the kept sample are not logged a second time.
    EXPECT_EQ(std::count(log.begin(), log.end(), "#" + dest), 1);
}

// Installed in a folder of its own (by /dir), the product is upgraded there: the destination page
// proposes that folder as it is, and Finish keeps it.
TEST_F(InstallRun, ReinstallProposesTheInstalledFolderItself)
{
    UseDemoPackage();
    const std::string custom = Temp.Join("Apps\\Zorvane");
    SetRawValue(HKEY_LOCAL_MACHINE, UninstallEntry, "InstallLocation", REG_SZ, custom.c_str(),
                static_cast<DWORD>(custom.size() + 1));
    InstallWithDefaults(IDNO, IDNO);
    EXPECT_EQ(ReadTestFile(custom + "\\tpz2.exe"), DemoSource("tpz2.exe"));
    EXPECT_FALSE(FolderExists(Destination())) << "no second copy in the default folder";
    EXPECT_EQ(QueryValue(HKEY_LOCAL_MACHINE, UninstallEntry, "QuietUninstallString").Data,
              StoredText("\"" + custom + "\\Setup.exe\" /r /quiet"));
}

// Every way the run stops: what the user is told, and what is left.
TEST_F(InstallRun, EachStopShowsItsOneMessage)
{
    struct Case {
        const char* Name;
        int WizardPage; // -1: no wizard expected
        int Button;
        const char* TextStart;
        UINT Icon;
    };
    const std::string dest = Destination();
    const std::vector<Case> cases = {
        {"no package", -1, 0, "File not found: ", MB_ICONHAND},
        {"cancel on welcome", 0, PSBTN_CANCEL, "Setup aborted.", 0},
        {"cancel on licence", 1, PSBTN_CANCEL, "Setup aborted.", 0},
        {"cancel on destination", 2, PSBTN_CANCEL, "Setup aborted.", 0},
        {"empty package", 2, PSBTN_FINISH, "Unexpected end of file while reading '", MB_ICONHAND},
        {"folder in the way", 2, PSBTN_FINISH, "Failed to create folder ", MB_ICONHAND},
        {"uninstaller unwritable", 2, PSBTN_FINISH, "Error writing file: ", MB_ICONHAND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::string name = c.Name;
        DeleteFileA((Medium() + "\\Setup.z").c_str());
        if (name == "empty package")
            WriteTestFile(Medium() + "\\Setup.z", "");
        else if (name != "no package")
            UseDemoPackage();
        if (name == "folder in the way")
            WriteTestFile(Temp.Join("Program Files"), "a file where the folder should be");
        if (name == "uninstaller unwritable") {
            RemoveTree(Temp.Join("Program Files"));
            CreateDirectoryA(Temp.Join("Program Files").c_str(), nullptr);
            CreateDirectoryA((Temp.Join("Program Files") + "\\TALVIQ").c_str(), nullptr);
            CreateDirectoryA(dest.c_str(), nullptr);
            CreateDirectoryA((dest + "\\Setup.exe").c_str(), nullptr);
        }

        Start();
        if (c.WizardPage >= 0)
            DriveWizard(c.WizardPage, c.Button);
        if (name == "uninstaller unwritable") {
            // The rest of the block never runs: no shortcuts, no COM registration.
            MessageBoxContent error = Answer(IDOK);
            EXPECT_EQ(error.Text.rfind(c.TextStart + dest + "\\Setup.exe\r\x95 ", 0), 0u) << error.Text;
            EXPECT_FALSE(FolderExists(ProgramsFolder()));
            EXPECT_FALSE(FileExists(dest + "\\tpz2.log"));
        } else {
            MessageBoxContent box = Answer(IDOK);
            EXPECT_EQ(box.Text.rfind(c.TextStart, 0), 0u) << box.Text;
            EXPECT_EQ(box.Caption, "Setup");
            EXPECT_EQ(box.IconStyle, c.Icon);
            if (name == "no package") {
                EXPECT_EQ(box.Text.rfind(std::string("File not found: ") + Medium() + "\\Setup.z\r\x95 ", 0),
                          0u);
            }
            if (name == "folder in the way") {
                EXPECT_EQ(box.Text, "Failed to create folder " + dest);
            }
            if (name == "empty package") {
                EXPECT_EQ(box.Text, "Unexpected end of file while reading '" + Medium() + "\\Setup.z'");
            }
            if (name.rfind("cancel", 0) == 0 || name == "no package" || name == "folder in the way") {
                EXPECT_FALSE(FolderExists(dest)) << "changed nothing";
            }
        }
        ExpectEnded();
        // The entry written before the uninstaller's copy failed, the log and the folders made for
        // an empty package: all undone once the message was answered.
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallEntry));
        if (name == "uninstaller unwritable") {
            EXPECT_EQ(FilesMatching(dest + "\\*.*"), (std::vector<std::string>{".", "..", "Setup.exe"}))
                << "only what was there before";
        }
        if (name == "empty package") {
            EXPECT_FALSE(FolderExists(Temp.Join("Program Files")));
        }
        RemoveTree(Temp.Join("Program Files"));
        DeleteFileA(Temp.Join("Program Files").c_str());
    }
}

TEST_F(InstallRun, DestinationTooLongForItsFilesIsRefusedBeforeAnythingIsMade)
{
    UseDemoPackage();
    // 230 characters: the wizard takes it and appends the suffix, but Setup.log no longer fits.
    std::string base = Temp.Join("Program Files");
    base += "\\" + std::string(229 - base.size(), 'p');
    ASSERT_EQ(base.size(), 230u);
    ProgramFiles.PointTo(base);
    Start();
    DriveWizard(2, PSBTN_FINISH);
    MessageBoxContent box = Answer(IDOK);
    EXPECT_EQ(box.Text.rfind("The destination folder's name is too long:\r" + base + Suffix + "\r", 0), 0u)
        << box.Text;
    // The box is wider than the screen (a path does not wrap), so its icon is not read here.
    EXPECT_EQ(box.Caption, "Setup");
    ExpectEnded();
    EXPECT_FALSE(FolderExists(Temp.Join("Program Files")));
}

TEST_F(InstallRun, RunningProductIsGuardedBeforeTheWizard)
{
    UseDemoPackage();
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "ProjectZorvaneMutex");
    Start();
    MessageBoxContent question = Answer(IDNO);
    EXPECT_EQ(question.Caption, "Setup");
    EXPECT_EQ(question.Text.rfind("TALVIQ Project Zorvane is currently running. You can't reinstall it", 0),
              0u);
    MessageBoxContent prompt = Answer(IDCANCEL);
    EXPECT_EQ(prompt.Text, "Exit TALVIQ Project Zorvane then press OK to continue");
    ExpectEnded();
    CloseHandle(mutex);
    EXPECT_FALSE(FolderExists(Destination()));
}

const char Confirmation[] =
    "This will uninstall TALVIQ Project Zorvane 2 Demo from your system.\rDo you want to continue "
    "with Uninstall?";
const char Removed[] =
    "Uninstall removed program files.\rYou should reboot your computer to complete uninstall.";

TEST_F(InstallRun, UninstallRemovesWhatWasLoggedAndItselfAtTheNextStart)
{
    UseDemoPackage();
    InstallWithDefaults(IDNO, IDNO);
    const std::string dest = Destination();
    const std::string menu = ProgramsFolder();
    WriteTestFile(dest + "\\Projects\\Mine.tpz", "the user's own project");

    // No at the confirmation changes nothing.
    std::vector<MessageBoxContent> declined = Uninstall({IDNO});
    EXPECT_EQ(declined[0].Text, Confirmation);
    EXPECT_EQ(declined[0].Caption, "Uninstall");
    EXPECT_EQ(declined[0].IconStyle, static_cast<UINT>(MB_ICONQUESTION));
    EXPECT_TRUE(FileExists(dest + "\\Setup.log"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UninstallEntry));

    std::vector<MessageBoxContent> shown = Uninstall({IDYES, IDOK});
    EXPECT_EQ(shown[1].Text, Removed);
    EXPECT_EQ(shown[1].Caption, "Uninstall");
    EXPECT_EQ(shown[1].IconStyle, static_cast<UINT>(MB_ICONEXCLAMATION));
    // The product unregistered its COM server; its own log was never part of the installation.
    EXPECT_EQ(ReadTestFile(dest + "\\tpz2.log"), "/RegServer\r\n/UnRegServer\r\n");
    for (const char* file : {"tpz2.exe", "Wendlor.exe", "Readme.txt", "Projects\\Sample.tpz", "Setup.log"})
        EXPECT_FALSE(FileExists(dest + "\\" + file)) << file;
    EXPECT_EQ(ReadTestFile(dest + "\\Projects\\Mine.tpz"), "the user's own project") << "not logged, so kept";
    EXPECT_FALSE(FolderExists(menu));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallEntry));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, AddinKey));
    EXPECT_TRUE(FileExists(dest + "\\Setup.exe")) << "gone only at the next start";

    // A second run finds no installation.
    std::vector<MessageBoxContent> again = Uninstall({IDOK});
    EXPECT_EQ(again[0].Text.rfind("Unable to locate TALVIQ Project Zorvane 2 Demo installation.\r", 0), 0u);
    EXPECT_EQ(again[0].IconStyle, static_cast<UINT>(MB_ICONHAND));

    // The next start of Windows, as Wine simulates it, deletes the uninstaller.
    FinishChild(StartChild("wineboot.exe -r"), 60000);
    EXPECT_FALSE(FileExists(dest + "\\Setup.exe"));
}

TEST_F(InstallRun, UninstallWaitsForTheRunningProductWithItsOwnTexts)
{
    UseDemoPackage();
    InstallWithDefaults(IDNO, IDNO);
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "ProjectZorvaneMutex");
    std::vector<MessageBoxContent> shown = Uninstall({IDNO, IDCANCEL});
    CloseHandle(mutex);
    EXPECT_EQ(shown[0].Caption, "Uninstall");
    EXPECT_EQ(shown[0].Text.rfind("TALVIQ Project Zorvane is currently running. You can't uninstall it", 0),
              0u);
    EXPECT_EQ(shown[1].Text, "Exit TALVIQ Project Zorvane then press OK to continue");
    EXPECT_EQ(shown[1].Caption, "Uninstall");
    EXPECT_TRUE(FileExists(Destination() + "\\Setup.log")) << "nothing changed";
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UninstallEntry));
}

// Where the folders chosen or given cannot take a name: the user is told which name and why, and
// never blamed on the package.
TEST_F(InstallRun, FolderLengthsAroundEachLimitInstallOrAreReportedAsFolderFaults)
{
    // tpz2.exe answers the registration; Readme.txt is always replaced, through a temporary beside it.
    const std::string topLevelPackage =
        PackageEntryBytes("tpz2.exe", "TALVIQ Project Zorvane 2 PE Demo", DemoSource("tpz2.exe"),
                          ReplaceIfNewer) +
        PackageEntryBytes("Wendlor.exe", "Wendlor", DemoSource("Wendlor.exe"), ReplaceIfNewer) +
        PackageEntryBytes("Readme.txt", "Read me", SzddLiterals("readme"), AlwaysReplace);
    struct Case {
        size_t DestinationLength;
        bool DemoPackage;
        const char* Outcome; // "installs twice", "too long", or the start of the error
    };
    const Case cases[] = {
        // The most a folder may hold and still have a file replaced in it.
        {245, false, "installs twice"},
        {246, false, "too long"},
        {247, false, "too long"},
        // The folder's own names fit, a subfolder's file of the package does not.
        {240, true, "Error writing file: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.DestinationLength);
        std::string dest = ProposeDestinationOfLength(c.DestinationLength);
        ASSERT_EQ(dest.size(), c.DestinationLength);
        if (c.DemoPackage)
            UseDemoPackage();
        else
            WriteTestFile(Medium() + "\\Setup.z", topLevelPackage);
        std::string outcome = c.Outcome;
        if (outcome == "installs twice") {
            InstallWithDefaults(IDNO, IDNO);
            InstallWithDefaults(IDNO, IDNO);
            EXPECT_EQ(ReadTestFile(dest + "\\Readme.txt"), "readme");
            EXPECT_EQ(FilesMatching(dest + "\\~v*"), std::vector<std::string>());
            EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UninstallEntry));
            RemoveKeyTree(HKEY_LOCAL_MACHINE, UninstallEntry);
            RemoveTree(ProgramsFolder());
        } else {
            Start();
            DriveWizard(2, PSBTN_FINISH);
            MessageBoxContent box = Answer(IDOK);
            ExpectEnded();
            if (outcome == "too long") {
                EXPECT_EQ(box.Text.rfind("The destination folder's name is too long:\r" + dest + "\r", 0), 0u)
                    << box.Text;
                EXPECT_FALSE(FolderExists(Temp.Join("Program Files"))) << "nothing made";
            } else {
                // The target is named, shortened in the middle, with the system's reason.
                std::string target = dest + "\\Projects\\Sample.tpz";
                EXPECT_EQ(box.Text.rfind(c.Outcome + target.substr(0, 64) + "...", 0), 0u) << box.Text;
                EXPECT_NE(box.Text.find("Projects\\Sample.tpz\r\x95 "), std::string::npos) << box.Text;
                EXPECT_EQ(box.Text.find("corrupt"), std::string::npos) << box.Text;
                EXPECT_FALSE(FolderExists(Temp.Join("Program Files"))) << "the files before it undone";
            }
        }
        RemoveTree(Temp.Join("Program Files"));
    }
}

// Other spellings of the uninstaller's path, by which it may have been started: its short (8.3)
// form, and under Wine, the same file through drive Z:, where Wine maps the Unix root.
std::vector<std::string> AliasesOf(const std::string& path)
{
    std::vector<std::string> aliases;
    char shortPath[MAX_PATH];
    DWORD length = GetShortPathNameA(path.c_str(), shortPath, sizeof shortPath);
    if (length > 0 && length < sizeof shortPath && path != shortPath)
        aliases.push_back(shortPath);
    typedef char*(CDECL * UnixName)(LPCWSTR);
    UnixName unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    wchar_t wide[MAX_PATH];
    if (unixName != nullptr && MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH) > 0) {
        char* unix = unixName(wide);
        if (unix != nullptr) {
            std::string z = std::string("Z:") + unix;
            std::replace(z.begin(), z.end(), '/', '\\');
            aliases.push_back(z);
            HeapFree(GetProcessHeap(), 0, unix);
        }
    }
    return aliases;
}

TEST_F(InstallRun, ReinstallFromTheUninstallerByAnotherNamePastAFileOthersOnlyRead)
{
    UseDemoPackage();
    InstallWithDefaults(IDNO, IDNO);
    const std::string dest = Destination();
    ASSERT_TRUE(CopyFileA((Medium() + "\\Setup.z").c_str(), (dest + "\\Setup.z").c_str(), FALSE));
    std::vector<std::string> aliases = AliasesOf(dest + "\\Setup.exe");
    ASSERT_FALSE(aliases.empty()) << "no other name to start the uninstaller by";
    for (const std::string& alias : aliases) {
        SCOPED_TRACE(alias);
        // A viewer or an indexer reading the readme shares everything with others.
        HANDLE reader = CreateFileA((dest + "\\Readme.txt").c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(reader, INVALID_HANDLE_VALUE);
        InstallWithDefaults(IDNO, IDNO, alias);
        CloseHandle(reader);
        EXPECT_EQ(ReadTestFile(dest + "\\Setup.exe"), ReadTestFile(SetupProgram()))
            << "the uninstaller whole";
        EXPECT_EQ(ReadTestFile(dest + "\\Readme.txt"), DemoSource("files\\Readme.txt"));
        EXPECT_EQ(FilesMatching(dest + "\\~v*"), std::vector<std::string>());
    }
}

// What the run needs before it can install anything, each missing in turn: the message names it.
TEST_F(InstallRun, WhatCannotBeHadBeforeInstallingIsNamed)
{
    UseDemoPackage();
    struct Case {
        const char* Name;
        std::string Program;  // a copy of Setup.exe under another name, beside its package
        const char* Variable; // set for the run
        std::string Value;
        int WizardPage; // -1: no wizard expected
        std::string TextStart;
        std::string TextPart; // found further on
    };
    std::string longTemp = Temp.Join(std::string(250 - Temp.Path().size() - 1, 't'));
    ASSERT_EQ(longTemp.size(), 250u);
    ASSERT_TRUE(CreateDirectoryA(longTemp.c_str(), nullptr));
    // Renamed without an extension: its package's name is two characters longer than its own.
    std::string renamed = Medium() + "\\" + std::string(258 - Medium().size() - 1, 's');
    ASSERT_EQ(renamed.size(), 258u);
    const std::string package = renamed + ".z";
    // Wine's own per-program setting keeps the common controls from this program alone.
    const std::string noControls = Medium() + "\\NoControls.exe";
    const std::string noControlsKey = "Software\\Wine\\AppDefaults\\NoControls.exe\\DllOverrides";
    SetRawValue(HKEY_CURRENT_USER, noControlsKey, "comctl32", REG_SZ, "", 1);
    ASSERT_TRUE(CopyFileA((Medium() + "\\Setup.z").c_str(), (Medium() + "\\NoControls.z").c_str(), FALSE));
    const Case cases[] = {
        // Shortened in the middle to fit, so that both its start and its own name show.
        {"package path too long", renamed, nullptr, "", -1,
         "Unable to open file: " + package.substr(0, 64) + "...",
         package.substr(package.size() - 100) + "\r\x95 "},
        {"temporary folder without room for its names", "", "TMP", longTemp, 2,
         "Unable to open file: " + longTemp + "\\\r\x95 ", ""},
        {"common controls cannot be loaded", noControls, nullptr, "", -1,
         "Unable to show dialog box: comctl32.dll\r\x95 ", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        if (!c.Program.empty()) {
            ASSERT_TRUE(CopyFileA(SetupProgram().c_str(), c.Program.c_str(), FALSE));
        }
        char saved[4096] = "";
        bool hadValue = c.Variable != nullptr && GetEnvironmentVariableA(c.Variable, saved, sizeof saved) > 0;
        if (c.Variable != nullptr)
            SetEnvironmentVariableA(c.Variable, c.Value.c_str());
        Start(c.Program);
        if (c.Variable != nullptr)
            SetEnvironmentVariableA(c.Variable, hadValue ? saved : nullptr);
        if (c.WizardPage >= 0)
            DriveWizard(c.WizardPage, PSBTN_FINISH);
        MessageBoxContent box = Answer(IDOK);
        ExpectEnded();
        EXPECT_EQ(box.Text.rfind(c.TextStart, 0), 0u) << box.Text;
        EXPECT_NE(box.Text.find(c.TextPart), std::string::npos) << box.Text;
        EXPECT_EQ(box.Caption, "Setup");
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallEntry));
        EXPECT_FALSE(FileExists(Destination() + "\\tpz2.exe")) << "nothing installed";
        RemoveTree(Temp.Join("Program Files"));
    }
    EXPECT_TRUE(RemoveKeyTree(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\NoControls.exe"));
}

TEST_F(InstallRun, UninstallFoldsADoubledBackslashAndRefusesAFolderItCannotTrust)
{
    UseDemoPackage();
    InstallWithDefaults(IDNO, IDNO);
    const std::string dest = Destination();
    auto recordFolder = [](const std::string& folder) {
        SetRawValue(HKEY_LOCAL_MACHINE, UninstallEntry, "InstallLocation", REG_SZ, folder.c_str(),
                    static_cast<DWORD>(folder.size() + 1));
    };
    std::string outside = dest + "\\..\\Project Zorvane PE";
    recordFolder(outside);
    std::vector<MessageBoxContent> refused = Uninstall({IDOK});
    EXPECT_EQ(refused[0].Text, "The installation folder of TALVIQ Project Zorvane 2 Demo cannot be used:\r" +
                                   outside + "\rUninstall will not continue...");
    EXPECT_EQ(refused[0].Caption, "Uninstall");
    EXPECT_EQ(refused[0].IconStyle, static_cast<UINT>(MB_ICONHAND));
    EXPECT_TRUE(FileExists(dest + "\\Setup.log"));
    EXPECT_TRUE(FileExists(dest + "\\tpz2.exe"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UninstallEntry));

    std::string doubled = dest;
    doubled.insert(doubled.rfind("\\TALVIQ"), "\\");
    recordFolder(doubled);
    std::vector<MessageBoxContent> shown = Uninstall({IDYES, IDOK});
    EXPECT_EQ(shown[1].Text, Removed);
    for (const char* file : {"tpz2.exe", "Wendlor.exe", "Readme.txt", "Projects\\Sample.tpz", "Setup.log"})
        EXPECT_FALSE(FileExists(dest + "\\" + file)) << file;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallEntry));
}
