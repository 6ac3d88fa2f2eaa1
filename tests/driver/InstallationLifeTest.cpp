// A product's life on one machine, end to end with the real Setup.exe: installed, reinstalled,
// upgraded, removed and installed again, then removed quietly through its entry and the machine
// restarted (wineboot -r). Whatever the installs made must be gone then, whatever the user added
// must stay, and no restart may take a file from an installation made after the uninstall that
// asked for it.
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

#include <iostream>
#include <set>
#include <string>
#include <vector>

namespace {

const char Entry[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TALVIQ Project Zorvane PE 2.0";
const char AddinKey[] = "Software\\Microsoft\\Shared Tools\\Addin Designer\\TALVIQ Project Zorvane";
const DWORD RunLimitMs = 60000;

// A file beside this test program.
std::string BesideTests(const std::string& name)
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path);
    return folder.substr(0, folder.rfind('\\') + 1) + name;
}

std::string Versioned(const char* version)
{
    return ReadTestFile(BesideTests(std::string("versioned-") + version + ".exe"));
}

// A small product in two releases: a file the same in both, one changed, one of equal version
// (kept by the newer), one of a newer version (replaced without a record), one the user may
// change (kept), one the newer no longer has and one only the newer has.
std::string Package(bool newer)
{
    const std::string program = ReadTestFile(BuildTreePath(DEMO_SOURCES_UNIX_PATH) + "\\tpz2.exe");
    std::string package =
        PackageEntryBytes("tpz2.exe", "Program", program, ReplaceIfNewer) +
        PackageEntryBytes("Wendlor.exe", "Manager", Versioned("1.2.3.4"), ReplaceIfNewer) +
        PackageEntryBytes("Tool.exe", "Tool", Versioned(newer ? "1.3.0.0" : "1.2.3.4"), ReplaceIfNewer) +
        PackageEntryBytes("Same.txt", "Same", SzddLiterals("the same in both releases"), AlwaysReplace) +
        PackageEntryBytes("Changed.txt", "Changed", SzddLiterals(newer ? "newer" : "older"), AlwaysReplace) +
        PackageEntryBytes("Docs\\Kept.txt", "Kept", newer ? "the newer release's" : "the user may change it",
                          KeepExisting);
    return package +
           (newer ? PackageEntryBytes("Added\\New.txt", "Added", SzddLiterals("only the newer has it"))
                  : PackageEntryBytes("Dropped.txt", "Dropped", SzddLiterals("only the older has it")));
}

const char* const OlderFiles[] = {"tpz2.exe",       "Wendlor.exe", "Tool.exe",  "Same.txt", "Changed.txt",
                                  "Docs\\Kept.txt", "Dropped.txt", "Setup.exe", "Setup.log"};
const char* const Shortcuts[] = {"Project Zorvane PE Demo.lnk", "Wendlor.lnk",
                                 "Uninstall Project Zorvane Demo.lnk"};

// What a row does before the product's last removal and the restart.
enum class Step {
    InstallOlder,            // Setup.exe /quiet from the older medium
    InstallNewer,            // the same from the newer medium
    InstallOlderInteractive, // the wizard with its defaults, No to both closing questions
    InstallOlderForAllUsers, // /quiet /allusers
    AddUsersFiles,           // the user's own files in the installation's folders
    UninstallHoldingFiles,   // quiet uninstall while another program holds two files: 3010
    RestartKeepsItWhole,     // restart; every file of the older installation is still there
};

class InstallationLife : public testing::Test {
protected:
    static DWORD Run(const std::string& commandLine)
    {
        return FinishChild(StartChild(commandLine), RunLimitMs);
    }

    // The wizard with its defaults (Next, Next, Finish), then No to both closing questions.
    static void InstallInteractively(const std::string& program)
    {
        PROCESS_INFORMATION process = StartChild("\"" + program + "\"");
        ASSERT_NE(process.hProcess, nullptr);
        ASSERT_TRUE(FinishWizardWithDefaults(process.dwProcessId, RunLimitMs)) << "no wizard";
        for (int question = 0; question < 2; ++question) {
            HWND box = WaitForProcessWindow(process.dwProcessId, DialogClass, "Setup", RunLimitMs);
            ASSERT_NE(box, nullptr) << "closing question " << question;
            PressButton(box, IDNO);
            WaitForWindowGone(box);
        }
        EXPECT_EQ(FinishChild(process, RunLimitMs), 0u);
    }

    ProgramFilesOverride ProgramFiles;
};

TEST_F(InstallationLife, EachLifeEndsWithNothingOfTheProductAfterItsRemovalAndARestart)
{
    const struct {
        const char* Life;
        std::vector<Step> Steps;
    } rows[] = {
        {"installed once", {Step::InstallOlder, Step::AddUsersFiles}},
        {"the same medium twice", {Step::InstallOlder, Step::AddUsersFiles, Step::InstallOlder}},
        {"an older, then a newer medium", {Step::InstallOlder, Step::AddUsersFiles, Step::InstallNewer}},
        {"interactive, then /allusers",
         {Step::InstallOlderInteractive, Step::AddUsersFiles, Step::InstallOlderForAllUsers}},
        {"installed, removed, installed again before the restart",
         {Step::InstallOlder, Step::AddUsersFiles, Step::UninstallHoldingFiles, Step::InstallOlder,
          Step::RestartKeepsItWhole}},
    };
    const std::string menu = ProgramsFolder(CSIDL_PROGRAMS);
    const std::string common = ProgramsFolder(CSIDL_COMMON_PROGRAMS);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Life);
        ScopedTempDir temp;
        const std::string programFiles = temp.Join("Program Files");
        const std::string dest = programFiles + "\\TALVIQ\\Project Zorvane PE";
        ProgramFiles.PointTo(programFiles);
        const std::string older = temp.Join("older");
        const std::string newer = temp.Join("newer");
        for (const std::string& medium : {older, newer}) {
            ASSERT_TRUE(CreateDirectoryA(medium.c_str(), nullptr));
            ASSERT_TRUE(CopyFileA(BuildTreePath(SETUP_EXE_UNIX_PATH).c_str(),
                                  (medium + "\\Setup.exe").c_str(), FALSE));
        }
        WriteTestFile(older + "\\Setup.z", Package(false));
        WriteTestFile(newer + "\\Setup.z", Package(true));
        // Not the installation's: the user's own files, and the log the product keeps of its switches.
        const std::set<std::string> usersFiles = {dest + "\\Mine.txt", dest + "\\Docs\\Mine.txt",
                                                  dest + "\\tpz2.log"};

        for (Step step : row.Steps) {
            switch (step) {
            case Step::InstallOlder:
                EXPECT_EQ(Run("\"" + older + "\\Setup.exe\" /quiet"), 0u);
                break;
            case Step::InstallNewer:
                EXPECT_EQ(Run("\"" + newer + "\\Setup.exe\" /quiet"), 0u);
                EXPECT_EQ(ReadTestFile(dest + "\\Changed.txt"), "newer");
                EXPECT_EQ(ReadTestFile(dest + "\\Tool.exe"), Versioned("1.3.0.0"));
                break;
            case Step::InstallOlderInteractive:
                InstallInteractively(older + "\\Setup.exe");
                break;
            case Step::InstallOlderForAllUsers:
                EXPECT_EQ(Run("\"" + older + "\\Setup.exe\" /quiet /allusers"), 0u);
                EXPECT_TRUE(FolderExists(menu)) << "the earlier shortcuts stay until the removal";
                EXPECT_TRUE(FileExists(common + "\\Wendlor.lnk"));
                break;
            case Step::AddUsersFiles:
                WriteTestFile(dest + "\\Mine.txt", "the user's own");
                WriteTestFile(dest + "\\Docs\\Mine.txt", "the user's own, in a folder of the product");
                break;
            case Step::UninstallHoldingFiles: {
                // Held as a viewer holds them: one always replaced, one of equal version kept.
                std::vector<HANDLE> held;
                for (const char* file : {"Same.txt", "Wendlor.exe"}) {
                    held.push_back(CreateFileA((dest + "\\" + file).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                               nullptr, OPEN_EXISTING, 0, nullptr));
                    EXPECT_NE(held.back(), INVALID_HANDLE_VALUE) << file;
                }
                EXPECT_EQ(Run("\"" + dest + "\\Setup.exe\" /r /quiet"), 3010u);
                for (HANDLE handle : held)
                    CloseHandle(handle);
                EXPECT_TRUE(FileExists(dest + "\\Setup.exe")) << "the uninstaller goes at the restart";
                break;
            }
            case Step::RestartKeepsItWhole:
                EXPECT_EQ(Run("wineboot.exe -r"), 0u);
                for (const char* file : OlderFiles)
                    EXPECT_TRUE(FileExists(dest + "\\" + file)) << "taken by the restart: " << file;
                for (const char* link : Shortcuts)
                    EXPECT_TRUE(FileExists(menu + "\\" + link)) << "taken by the restart: " << link;
                EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Entry));
                break;
            }
        }

        RegistryValue quiet = QueryValue(HKEY_LOCAL_MACHINE, Entry, "QuietUninstallString");
        ASSERT_TRUE(quiet.Found) << "the last install wrote no entry";
        EXPECT_EQ(Run(quiet.Data.c_str()), 0u);
        EXPECT_EQ(Run("wineboot.exe -r"), 0u);

        std::set<std::string> left;
        for (const auto& item : TakeSnapshot({programFiles}, {}))
            if (item.first.rfind("file ", 0) == 0)
                left.insert(item.first.substr(5));
        EXPECT_EQ(left, usersFiles);
        std::cout << "    " << row.Life << ": " << left.size() << " files left (" << usersFiles.size()
                  << " are the user's and the product's own log)\n";
        EXPECT_FALSE(FolderExists(menu));
        EXPECT_FALSE(FolderExists(common));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Entry));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, AddinKey));
        // A row that failed leaves nothing to the next.
        RemoveKeyTree(HKEY_LOCAL_MACHINE, Entry);
        RemoveKeyTree(HKEY_LOCAL_MACHINE, AddinKey);
        RemoveTree(menu);
        RemoveTree(common);
    }
}

} // namespace
