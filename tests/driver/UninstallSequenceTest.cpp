#include "driver/UninstallSequence.h"

#include "core/PathUtilities.h"
#include "system/ProductRegistration.h"
#include "system/Registry.h"
#include "support/BootRequests.h"
#include "support/MessageBoxScript.h"
#include "support/ScopedTempDir.h"

#include <gtest/gtest.h>

#include <winternl.h>

namespace {

const char RemovedText[] =
    "Uninstall removed program files.\rYou should reboot your computer to complete uninstall.";
const char NoLogText[] =
    "Project Zorvane Uninstaller can't remove program files from your system without the "
    "log file.\rDo you wish the Uninstaller to clear the registry entries only?";
const ExpectedBox Confirm = {
    "Uninstall",
    "This will uninstall TALVIQ Project Zorvane 2 Demo from your system.\rDo you want to "
    "continue with Uninstall?",
    MB_ICONQUESTION,
    {IDYES, IDNO},
    IDYES};

// Closes this process's handles to the product's mutex, which the uninstall guard keeps for the
// rest of the run; returns how many there were.
int CloseHeldProductMutex()
{
    typedef NTSTATUS(NTAPI * QueryObject)(HANDLE, OBJECT_INFORMATION_CLASS, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<QueryObject>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject")));
    const OBJECT_INFORMATION_CLASS nameInformation = static_cast<OBJECT_INFORMATION_CLASS>(1);
    int closed = 0;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        HANDLE handle = reinterpret_cast<HANDLE>(value);
        union {
            UNICODE_STRING Text;
            char Room[1024];
        } info;
        DWORD flags = 0;
        // The type first: asking some other kinds of object for their name can block.
        if (!GetHandleInformation(handle, &flags) ||
            query(handle, ObjectTypeInformation, &info, sizeof info, 0) ||
            std::wstring(info.Text.Buffer, info.Text.Length / 2) != L"Mutant" ||
            query(handle, nameInformation, &info, sizeof info, 0))
            continue;
        std::wstring name(info.Text.Buffer, info.Text.Length / 2);
        if (name.size() > 20 && name.substr(name.size() - 20) == L"\\ProjectZorvaneMutex" &&
            CloseHandle(handle))
            ++closed;
    }
    return closed;
}

// Works on the product's real uninstall entry and a temporary installation folder.
class RunUninstallTest : public testing::Test {
protected:
    void SetUp() override
    {
        RemoveKeyTree(HKEY_LOCAL_MACHINE, UninstallKey);
        CreateDirectoryA(Inst.c_str(), nullptr);
        CreateDirectoryA((Inst + "\\Data").c_str(), nullptr);
        WriteTestFile(Inst + "\\Setup.exe", "x");
        WriteTestFile(Inst + "\\Data\\Readme.txt", "x");
    }
    void TearDown() override { EXPECT_TRUE(RemoveKeyTree(HKEY_LOCAL_MACHINE, UninstallKey)); }

    // The uninstall entry and, when asked, the log of the installation.
    void Register(bool withLog)
    {
        WriteRegistryString(HKEY_LOCAL_MACHINE, UninstallKey, InstallLocationValue, Inst.c_str());
        if (withLog)
            WriteTestFile(Inst + "\\Setup.log", "#" + Inst + "\r\n#" + Inst + "\\Data\\\r\n+" + Inst +
                                                    "\\Data\\Readme.txt\r\n+" + Inst + "\\tpz2.exe\r\n");
    }

    // Runs the uninstall, answering its boxes; how many handles to the product's mutex it kept.
    int Run(const std::vector<ExpectedBox>& boxes)
    {
        RunAnsweringBoxes(
            Owner.Window, [&] { RunUninstall(Owner.Window); }, boxes);
        return CloseHeldProductMutex();
    }

    SavedBootRequests Saved;
    ScopedTempDir Dir;
    const std::string Inst = Dir.Join("Project Zorvane PE");
    BoxOwner Owner;
};

TEST_F(RunUninstallTest, WithoutAnInstallLocationSaysSoAndChangesNothing)
{
    const ExpectedBox notInstalled = {
        "Uninstall",
        "Unable to locate TALVIQ Project Zorvane 2 Demo installation.\rTALVIQ Project "
        "Zorvane 2 Demo was not installed on your system or the installation is "
        "damaged.\rUninstall will not continue...",
        MB_ICONHAND,
        {IDOK},
        IDOK};
    const DWORD number = 7;
    EXPECT_EQ(Run({notInstalled}), 0) << "no entry";
    WriteRegistryString(HKEY_LOCAL_MACHINE, UninstallKey, InstallLocationValue, "");
    EXPECT_EQ(Run({notInstalled}), 0) << "empty";
    SetRawValue(HKEY_LOCAL_MACHINE, UninstallKey, InstallLocationValue, REG_DWORD, &number, sizeof number);
    EXPECT_EQ(Run({notInstalled}), 0) << "not a text";
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UninstallKey));
    EXPECT_TRUE(Saved.Untouched());
}

TEST_F(RunUninstallTest, NoAtTheConfirmationChangesNothing)
{
    Register(true);
    ExpectedBox no = Confirm;
    no.Press = IDNO;
    EXPECT_EQ(Run({no}), 1);
    EXPECT_TRUE(FileExists(Inst + "\\Data\\Readme.txt"));
    EXPECT_TRUE(FileExists(Inst + "\\Setup.log"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UninstallKey));
    EXPECT_TRUE(Saved.Untouched());
}

TEST_F(RunUninstallTest, YesUnregistersThenRemovesTheLoggedFilesAndTheEntry)
{
    Register(true);
    char standIn[MAX_PATH];
    ASSERT_TRUE(PathBesideProgram(standIn, "..\\demo\\tpz2.exe", true));
    ASSERT_TRUE(CopyFileA(standIn, (Inst + "\\tpz2.exe").c_str(), FALSE)) << standIn;

    EXPECT_EQ(Run({Confirm, {"Uninstall", RemovedText, MB_ICONWARNING, {IDOK}, IDOK}}), 1);

    EXPECT_EQ(ReadTestFile(Inst + "\\tpz2.log"), "/UnRegServer\r\n");
    for (const char* gone : {"\\tpz2.exe", "\\Data", "\\Setup.log"})
        EXPECT_EQ(GetFileAttributesA((Inst + gone).c_str()), INVALID_FILE_ATTRIBUTES) << gone;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallKey));
    EXPECT_FALSE(Saved.Untouched()) << "no deletion of Setup.exe requested";
}

TEST_F(RunUninstallTest, AMissingLogClearsOnlyTheEntryOnYesAndNothingOnNo)
{
    for (int answer : {IDNO, IDYES}) {
        Register(false);
        const char* finalText = answer == IDYES ? RemovedText : "There were errors during uninstall.";
        EXPECT_EQ(
            Run({Confirm,
                 {"Setup", "Failed to unregister TALVIQ Project Zorvane", MB_ICONHAND, {IDOK}, IDOK},
                 {"Uninstall",
                  "Project Zorvane Uninstaller can't remove program files from your system without the log "
                  "file.\rDo you wish the Uninstaller to clear the registry entries only?",
                  MB_ICONHAND,
                  {IDYES, IDNO},
                  answer},
                 {"Uninstall", finalText, MB_ICONWARNING, {IDOK}, IDOK}}),
            1);
        EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, UninstallKey), answer == IDNO);
        EXPECT_TRUE(FileExists(Inst + "\\Data\\Readme.txt"));
        EXPECT_TRUE(Saved.Untouched());
    }
}

} // namespace
