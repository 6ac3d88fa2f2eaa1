// The shipped 32-bit Setup.exe on 64-bit Windows (WoW64), where the system redirects it: Program
// Files (x86), the registry's 32-bit view under WOW6432Node, the system folder in SysWOW64. Runs
// only in a 32-bit build on a 64-bit system; elsewhere there is nothing redirected to prove.
#include "support/ChildProcess.h"
#include "support/PackageBuilder.h"
#include "support/RegistryProbe.h"
#include "support/ScopedTempDir.h"

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

namespace {

const char UninstallPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char EntryName[] = "TALVIQ Project Zorvane PE 2.0";
const std::string Entry = std::string(UninstallPath) + "\\" + EntryName;
const char CurrentVersion[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const DWORD RunLimitMs = 120000;

bool UnderWow64()
{
    BOOL wow = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow) && wow;
}

// Runs commandLine to its end and returns its exit code (~0u when it could not be started).
DWORD RunToEnd(const std::string& commandLine) { return FinishChild(StartChild(commandLine), RunLimitMs); }

// A string value of HKLM in the given view (KEY_WOW64_32KEY or KEY_WOW64_64KEY); "" when absent.
std::string ViewString(REGSAM view, const std::string& key, const char* name)
{
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE | view, &handle) != ERROR_SUCCESS)
        return "";
    char data[MAX_PATH * 2] = "";
    DWORD size = sizeof data - 1;
    DWORD type = 0;
    if (RegQueryValueExA(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        data[0] = '\0';
    RegCloseKey(handle);
    return data;
}

bool ViewKeyExists(REGSAM view, const std::string& key)
{
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE | view, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

// The uninstall entry of the 64-bit view, which a 32-bit Setup.exe never writes; removed again.
class SixtyFourBitEntry {
public:
    explicit SixtyFourBitEntry(const std::string& location)
    {
        HKEY handle;
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, Entry.c_str(), 0, nullptr, 0,
                                  KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &handle, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(handle, "InstallLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(location.c_str()),
                       static_cast<DWORD>(location.size() + 1));
        RegCloseKey(handle);
    }
    ~SixtyFourBitEntry()
    {
        HKEY parent;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, UninstallPath, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &parent) ==
            ERROR_SUCCESS) {
            EXPECT_EQ(RegDeleteKeyA(parent, EntryName), ERROR_SUCCESS);
            RegCloseKey(parent);
        }
    }
};

class WowRedirection : public testing::Test {
protected:
    void SetUp() override
    {
        if (!UnderWow64())
            GTEST_SKIP() << "not a 32-bit program on 64-bit Windows: nothing is redirected";
        CreateDirectoryA(Medium.c_str(), nullptr);
        ASSERT_TRUE(CopyFileA(BuildTreePath(SETUP_EXE_UNIX_PATH).c_str(), Program.c_str(), FALSE));
    }
    void TearDown() override
    {
        if (!UnderWow64())
            return;
        // Whatever a failed case left: the entry and the shortcuts of this view.
        RemoveKeyTree(HKEY_LOCAL_MACHINE, Entry);
        RemoveKeyTree(HKEY_LOCAL_MACHINE,
                      "Software\\Microsoft\\Shared Tools\\Addin Designer\\TALVIQ Project Zorvane");
        char programs[MAX_PATH] = "";
        SHGetSpecialFolderPathA(nullptr, programs, CSIDL_PROGRAMS, FALSE);
        RemoveTree(std::string(programs) + "\\TALVIQ Project Zorvane PE Demo");
    }
    // The demo package with one more entry, extra, appended.
    void PackWithDemo(const std::string& extra)
    {
        WriteTestFile(Medium + "\\Setup.z", ReadTestFile(BuildTreePath(DEMO_PACKAGE_UNIX_PATH)) + extra);
    }
    // Removes what Install left through the entry's own quiet command line; true on success.
    bool QuietUninstall()
    {
        std::string quiet = ViewString(KEY_WOW64_32KEY, Entry, "QuietUninstallString");
        if (quiet.empty())
            return false;
        DWORD code = RunToEnd(quiet);
        return code == 0 || code == ERROR_SUCCESS_REBOOT_REQUIRED;
    }

    ScopedTempDir Temp;
    const std::string Medium = Temp.Join("medium");
    const std::string Program = Medium + "\\Setup.exe";
};

TEST_F(WowRedirection, DefaultFolderEntryAndSystemFileLandWhereTheSystemPutsA32BitProgramAndGoAgain)
{
    const std::string name = "zorvane-wow-" + std::to_string(GetCurrentProcessId()) + ".dll";
    PackWithDemo(PackageEntryBytes("@\\" + name, "Add-in", SzddLiterals("32-bit library", 'y')));
    // The 64-bit view names Program Files (x86) itself; the program reads only its own view.
    const std::string programFilesX86 = ViewString(KEY_WOW64_64KEY, CurrentVersion, "ProgramFilesDir (x86)");
    ASSERT_FALSE(programFilesX86.empty());
    const std::string dest = programFilesX86 + "\\TALVIQ\\Project Zorvane PE";

    ASSERT_EQ(RunToEnd("\"" + Program + "\" /quiet"), 0u);

    EXPECT_TRUE(FileExists(dest + "\\tpz2.exe")) << dest;
    EXPECT_EQ(ViewString(KEY_WOW64_32KEY, Entry, "InstallLocation"), dest);
    // The 32-bit view is the WOW6432Node branch of the 64-bit one; the 64-bit entry stays unwritten.
    EXPECT_TRUE(ViewKeyExists(KEY_WOW64_64KEY, "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\"
                                               "Uninstall\\TALVIQ Project Zorvane PE 2.0"));
    EXPECT_FALSE(ViewKeyExists(KEY_WOW64_64KEY, Entry));

    // The system folder as the 32-bit program names it is SysWOW64 on disk.
    char system[MAX_PATH] = "";
    char wow64[MAX_PATH] = "";
    ASSERT_NE(GetSystemDirectoryA(system, sizeof system), 0u);
    ASSERT_NE(GetSystemWow64DirectoryA(wow64, sizeof wow64), 0u);
    const std::string record = std::string("+") + system + "\\" + name + "\r\n";
    EXPECT_NE(ReadTestFile(dest + "\\Setup.log").find(record), std::string::npos) << "no record " << record;
    EXPECT_EQ(ReadTestFile(std::string(wow64) + "\\" + name), "32-bit library");
    PVOID redirection = nullptr;
    ASSERT_TRUE(Wow64DisableWow64FsRedirection(&redirection));
    bool inNativeSystem =
        GetFileAttributesA((std::string(system) + "\\" + name).c_str()) != INVALID_FILE_ATTRIBUTES;
    Wow64RevertWow64FsRedirection(redirection);
    EXPECT_FALSE(inNativeSystem) << "written past the redirection into the 64-bit system folder";

    // The 32-bit uninstaller reads the record as the install wrote it and removes the file.
    EXPECT_TRUE(QuietUninstall());
    EXPECT_FALSE(FileExists(std::string(wow64) + "\\" + name));
    EXPECT_FALSE(FileExists(dest + "\\tpz2.exe"));
    EXPECT_FALSE(ViewKeyExists(KEY_WOW64_32KEY, Entry));
    DeleteFileA((std::string(wow64) + "\\" + name).c_str());
    RemoveTree(dest);
}

TEST_F(WowRedirection, AnEntryOfThe64BitViewIsNeitherReadNorRemoved)
{
    // A 64-bit installation's entry, with a log listing a file of its own folder.
    const std::string other = Temp.Join("Other64");
    CreateDirectoryA(other.c_str(), nullptr);
    WriteTestFile(other + "\\kept.txt", "64-bit product");
    WriteTestFile(other + "\\Setup.log", "#" + other + "\r\n+" + other + "\\kept.txt\r\n");
    SixtyFourBitEntry entry64(other);

    // Nothing of the 32-bit product is installed: the 32-bit uninstaller finds nothing to remove.
    EXPECT_EQ(RunToEnd("\"" + Program + "\" /r /quiet"), 1605u);
    EXPECT_EQ(ViewString(KEY_WOW64_64KEY, Entry, "InstallLocation"), other);
    EXPECT_TRUE(FileExists(other + "\\kept.txt"));

    // Installed and removed beside it: the 64-bit entry and its files stay as they were.
    PackWithDemo("");
    const std::string dest = Temp.Join("Apps\\Zorvane");
    ASSERT_EQ(RunToEnd("\"" + Program + "\" /quiet /dir=\"" + dest + "\""), 0u);
    EXPECT_EQ(ViewString(KEY_WOW64_32KEY, Entry, "InstallLocation"), dest);
    EXPECT_TRUE(QuietUninstall());
    EXPECT_FALSE(FileExists(dest + "\\tpz2.exe"));
    EXPECT_FALSE(ViewKeyExists(KEY_WOW64_32KEY, Entry));
    EXPECT_EQ(ViewString(KEY_WOW64_64KEY, Entry, "InstallLocation"), other);
    EXPECT_EQ(ReadTestFile(other + "\\kept.txt"), "64-bit product");
}

} // namespace
