#include "system/ProductRegistration.h"

#include "core/SetupState.h"
#include "system/Registry.h"
#include "support/RegistryProbe.h"
#include "support/ScopedTempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdio.h>
#include <string.h>

namespace {

const char SharedToolsKey[] = "Software\\Microsoft\\Shared Tools";
const char AddinDesignerParent[] = "Software\\Microsoft\\Shared Tools\\Addin Designer";
const char DefaultDestination[] = "C:\\Program Files\\TALVIQ\\Project Zorvane PE";
const char DefaultUninstaller[] = "C:\\Program Files\\TALVIQ\\Project Zorvane PE\\Setup.exe";

struct ExpectedValue {
    const char* Name;
    DWORD Type;
    std::string Data;
};

// The running test program's folder with its trailing backslash, found without PathUtilities.
std::string OwnFolder()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string own(path, length);
    return own.substr(0, own.rfind('\\') + 1);
}

// The running test program's size: the registration counts the uninstaller to come as this file.
unsigned long long OwnSize()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    EXPECT_TRUE(GetFileAttributesExA(path, GetFileExInfoStandard, &data));
    return (unsigned long long)data.nFileSizeHigh << 32 | data.nFileSizeLow;
}

DWORD KiBRoundedUp(unsigned long long bytes) { return DWORD((bytes + 1023) / 1024); }

// Today as the entry's "InstallDate" gives it.
std::string Today()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char date[16];
    snprintf(date, sizeof date, "%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    return date;
}

// Works on the real product keys of the test prefix, and leaves the prefix as it found it.
class ProductRegistrationTest : public testing::Test {
protected:
    void SetUp() override
    {
        SharedToolsExisted = KeyExists(HKEY_LOCAL_MACHINE, SharedToolsKey);
        AddinDesignerExisted = KeyExists(HKEY_LOCAL_MACHINE, AddinDesignerParent);
        RemoveProductKeys();
        lstrcpynA(DestinationFolder, DefaultDestination, sizeof DestinationFolder);
        lstrcpynA(RegisteredOwnerName, "Test Owner", sizeof RegisteredOwnerName);
    }

    void TearDown() override
    {
        RemoveProductKeys();
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallKey));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\TALVIQ"));
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\TALVIQ"));
        EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, AddinDesignerParent), AddinDesignerExisted);
        EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, SharedToolsKey), SharedToolsExisted);
    }

    void RemoveProductKeys()
    {
        RemoveKeyTree(HKEY_LOCAL_MACHINE, UninstallKey);
        RemoveKeyTree(HKEY_LOCAL_MACHINE, OldUninstallKey);
        RemoveKeyTree(HKEY_LOCAL_MACHINE, "Software\\TALVIQ");
        RemoveKeyTree(HKEY_CURRENT_USER, "Software\\TALVIQ");
        RemoveKeyTree(HKEY_LOCAL_MACHINE, std::string(AddinDesignerParent) + "\\TALVIQ Project Zorvane");
        if (!AddinDesignerExisted)
            RemoveKeyTree(HKEY_LOCAL_MACHINE, AddinDesignerParent);
        if (!SharedToolsExisted)
            RemoveKeyTree(HKEY_LOCAL_MACHINE, SharedToolsKey);
        DeleteRegistryValue(HKEY_LOCAL_MACHINE, RunKey, RunValueName);
        DeleteRegistryValue(HKEY_CURRENT_USER, RunKey, RunValueName);
        DeleteRegistryValue(HKEY_CURRENT_USER, RunKey, "ZorvaneTestKeep");
    }

    static void ExpectValue(HKEY root, const std::string& key, const ExpectedValue& expected)
    {
        RegistryValue value = QueryValue(root, key, expected.Name);
        ASSERT_TRUE(value.Found) << key << " lacks \"" << expected.Name << "\"";
        EXPECT_EQ(value.Type, expected.Type) << "type of \"" << expected.Name << "\"";
        EXPECT_EQ(value.Data, expected.Data) << "data of \"" << expected.Name << "\"";
    }

    bool SharedToolsExisted = false;
    bool AddinDesignerExisted = false;
};

TEST_F(ProductRegistrationTest, UninstallEntryHoldsRowsOneToSeventeenTheQuietCommandAndTheAppsListValues)
{
    const std::string dayBefore = Today();
    WriteProductRegistration(DefaultUninstaller);
    const std::string dayAfter = Today();
    RegistryValue date = QueryValue(HKEY_LOCAL_MACHINE, UninstallKey, "InstallDate");
    EXPECT_EQ(date.Type, DWORD(REG_SZ));
    EXPECT_TRUE(date.Data == StoredText(dayBefore) || date.Data == StoredText(dayAfter))
        << "InstallDate " << date.Data.c_str() << ", today " << dayBefore;

    const std::string command = "\"C:\\Program Files\\TALVIQ\\Project Zorvane PE\\Setup.exe\" /r";
    const std::vector<ExpectedValue> rows = {
        {"DisplayName", REG_SZ, StoredText("TALVIQ Project Zorvane 2 PE Demo")},
        {"UninstallPath", REG_SZ, StoredText(command)},
        {"UninstallString", REG_SZ, StoredText(command)},
        {"ModifyPath", REG_SZ, StoredText("")},
        {"InstallLocation", REG_SZ, StoredText(DefaultDestination)},
        {"InstallSource", REG_SZ, StoredText(OwnFolder())},
        {"DisplayVersion", REG_SZ, StoredText("Version 2.6.213 Demo")},
        {"VersionMajor", REG_DWORD, StoredDword(2)},
        {"VersionMinor", REG_DWORD, StoredDword(6)},
        {"Publisher", REG_SZ, StoredText("TALVIQ")},
        {"ProductID", REG_SZ, StoredText("")},
        {"RegOwner", REG_SZ, StoredText("Test Owner")},
        {"RegCompany", REG_SZ, StoredText("")},
        {"HelpTelephone", REG_SZ, StoredText("")},
        {"HelpLink", REG_SZ, StoredText("https://www.talviq.example/support")},
        {"URLUpdateInfo", REG_SZ, StoredText("https://www.talviq.example/products")},
        {"URLInfoAbout", REG_SZ, StoredText("https://www.talviq.example/")},
        // For deployment tools, whoever installed: written by the interactive run as well.
        {"QuietUninstallString", REG_SZ,
         StoredText("\"C:\\Program Files\\TALVIQ\\Project Zorvane PE\\Setup.exe\" /r /quiet")},
        // For the Apps list: a folder that holds nothing yet counts the uninstaller alone.
        {"EstimatedSize", REG_DWORD, StoredDword(KiBRoundedUp(OwnSize()))},
        {"DisplayIcon", REG_SZ, StoredText("C:\\Program Files\\TALVIQ\\Project Zorvane PE\\tpz2.exe,0")},
        {"NoModify", REG_DWORD, StoredDword(1)},
        {"NoRepair", REG_DWORD, StoredDword(1)},
    };
    std::vector<std::string> expectedNames = {"InstallDate"};
    for (const ExpectedValue& row : rows) {
        ExpectValue(HKEY_LOCAL_MACHINE, UninstallKey, row);
        expectedNames.push_back(row.Name);
    }
    // Nothing else: the system lists names sorted, so compare them sorted.
    std::vector<std::string> names = ValueNames(HKEY_LOCAL_MACHINE, UninstallKey);
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) < 0; });
    std::sort(expectedNames.begin(), expectedNames.end(),
              [](const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) < 0; });
    EXPECT_EQ(names, expectedNames);
}

TEST_F(ProductRegistrationTest, AddinDesignerKeysHoldRowsEighteenToTwenty)
{
    WriteProductRegistration(DefaultUninstaller);

    const std::string addin =
        "Software\\Microsoft\\Shared Tools\\Addin Designer\\TALVIQ Project Zorvane\\2.0";
    ExpectValue(HKEY_LOCAL_MACHINE, addin,
                {"", REG_SZ, StoredText("HKEY_CURRENT_USER\\Software\\TALVIQ\\Project Zorvane PE\\2.0")});
    EXPECT_EQ(ValueNames(HKEY_LOCAL_MACHINE, addin), std::vector<std::string>{""});
    ExpectValue(HKEY_LOCAL_MACHINE, addin + "\\LoadBehaviors", {"None", REG_DWORD, StoredDword(0)});
    ExpectValue(HKEY_LOCAL_MACHINE, addin + "\\LoadBehaviors", {"Startup", REG_DWORD, StoredDword(1)});
    EXPECT_EQ(ValueNames(HKEY_LOCAL_MACHINE, addin + "\\LoadBehaviors"),
              (std::vector<std::string>{"None", "Startup"}));
}

TEST_F(ProductRegistrationTest, UninstallCommandQuotesEveryPathThatFitsAndOmitsOneThatDoesNot)
{
    // The longest path a MAX_PATH buffer holds, with spaces that would split it unquoted.
    std::string longest = "C:\\Program Files\\" + std::string(MAX_PATH - 1 - 17 - 10, 'd') + "\\Setup.exe";
    ASSERT_EQ(longest.size(), size_t(MAX_PATH - 1));
    WriteProductRegistration(longest.c_str());
    ExpectValue(HKEY_LOCAL_MACHINE, UninstallKey,
                {"UninstallPath", REG_SZ, StoredText("\"" + longest + "\" /r")});
    ExpectValue(HKEY_LOCAL_MACHINE, UninstallKey,
                {"UninstallString", REG_SZ, StoredText("\"" + longest + "\" /r")});

    RemoveKeyTree(HKEY_LOCAL_MACHINE, UninstallKey);
    std::string overLong = "C:\\" + std::string(400, 'e') + "\\Setup.exe";
    WriteProductRegistration(overLong.c_str());
    EXPECT_FALSE(QueryValue(HKEY_LOCAL_MACHINE, UninstallKey, "UninstallPath").Found);
    EXPECT_FALSE(QueryValue(HKEY_LOCAL_MACHINE, UninstallKey, "UninstallString").Found);
    ExpectValue(HKEY_LOCAL_MACHINE, UninstallKey,
                {"DisplayName", REG_SZ, StoredText("TALVIQ Project Zorvane 2 PE Demo")});
    ExpectValue(HKEY_LOCAL_MACHINE, UninstallKey,
                {"URLInfoAbout", REG_SZ, StoredText("https://www.talviq.example/")});
}

TEST_F(ProductRegistrationTest, EstimatedSizeCountsTheInstalledFilesAndFollowsEachReinstall)
{
    const unsigned long long own = OwnSize();
    struct Row {
        const char* What;
        std::vector<std::pair<std::string, size_t>> Files; // relative path, size in bytes
        unsigned long long Counted;                        // bytes counted besides the uninstaller
    };
    const std::vector<Row> rows = {
        {"an empty folder", {}, 0},
        {"one byte rounds up", {{"Readme.txt", 1}}, 1},
        {"subfolders count",
         {{"tpz2.exe", 3000}, {"Projects\\Sample.tpz", 5000}, {"Projects\\Deep\\More\\x.dat", 2048}},
         10048},
        // The old uninstaller is replaced by this program's copy; aside copies of an upgrade go at
        // its end; a name that only resembles one is the product's.
        {"neither the old uninstaller nor aside copies",
         {{"Setup.exe", 70000}, {"~vo0A1F.tmp", 9000}, {"Data\\~VO0002.TMP", 4000}, {"~vo12345.tmp", 100}},
         100},
    };
    for (const Row& row : rows) {
        ScopedTempDir temp;
        for (const auto& file : row.Files) {
            const std::string path = temp.Join(file.first);
            for (size_t at = path.find('\\', temp.Path().size() + 1); at != std::string::npos;
                 at = path.find('\\', at + 1))
                CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
            WriteTestFile(path, std::string(file.second, 'z'));
        }
        lstrcpynA(DestinationFolder, temp.Path().c_str(), sizeof DestinationFolder);
        const std::string uninstaller = temp.Join("Setup.exe");
        // Written over the entry of the row before, as an upgrade writes over an installation.
        WriteProductRegistration(uninstaller.c_str());
        ExpectValue(HKEY_LOCAL_MACHINE, UninstallKey,
                    {"EstimatedSize", REG_DWORD, StoredDword(KiBRoundedUp(own + row.Counted))});
        ExpectValue(HKEY_LOCAL_MACHINE, UninstallKey,
                    {"DisplayIcon", REG_SZ, StoredText(temp.Join("tpz2.exe") + ",0")});
        ExpectValue(HKEY_LOCAL_MACHINE, UninstallKey, {"InstallLocation", REG_SZ, StoredText(temp.Path())});
        ExpectValue(HKEY_LOCAL_MACHINE, UninstallKey, {"NoModify", REG_DWORD, StoredDword(1)});
        ExpectValue(HKEY_LOCAL_MACHINE, UninstallKey, {"NoRepair", REG_DWORD, StoredDword(1)});
        EXPECT_EQ(QueryValue(HKEY_LOCAL_MACHINE, UninstallKey, "InstallDate").Data.size(), 9u) << row.What;
        if (HasFailure()) {
            ADD_FAILURE() << "row: " << row.What;
            break;
        }
    }

    RemoveProductRegistration();
    for (const char* name : {"EstimatedSize", "InstallDate", "DisplayIcon", "NoModify", "NoRepair"})
        EXPECT_FALSE(QueryValue(HKEY_LOCAL_MACHINE, UninstallKey, name).Found) << name;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallKey));
}

TEST_F(ProductRegistrationTest, RegisteredOwnerIsStoredCutTo127OrEmptyWhenTooLongToRead)
{
    RegistryValue original = QueryValue(HKEY_LOCAL_MACHINE, CurrentVersionKey, RegisteredOwnerValue);
    ASSERT_TRUE(original.Found) << "the prefix has no registered owner to restore";

    auto storeOwnerAndRegister = [](const std::string& owner) {
        SetRawValue(HKEY_LOCAL_MACHINE, CurrentVersionKey, RegisteredOwnerValue, REG_SZ, owner.c_str(),
                    DWORD(owner.size() + 1));
        memset(RegisteredOwnerName, 'x', sizeof RegisteredOwnerName);
        ReadRegistryString(HKEY_LOCAL_MACHINE, CurrentVersionKey, RegisteredOwnerValue, "",
                           RegisteredOwnerName, sizeof RegisteredOwnerName);
        WriteProductRegistration(DefaultUninstaller);
        return QueryValue(HKEY_LOCAL_MACHINE, UninstallKey, "RegOwner");
    };
    RegistryValue cut = storeOwnerAndRegister(std::string(200, 'w'));
    RegistryValue unread = storeOwnerAndRegister(std::string(256, 'w'));
    SetRawValue(HKEY_LOCAL_MACHINE, CurrentVersionKey, RegisteredOwnerValue, original.Type,
                original.Data.data(), DWORD(original.Data.size()));

    EXPECT_EQ(cut.Data, StoredText(std::string(127, 'w')));
    EXPECT_EQ(unread.Data, StoredText(""));
}

TEST_F(ProductRegistrationTest, InstallLocationReadsEmptyWithoutAnEntryAndTheDestinationAfterRegistration)
{
    char location[MAX_PATH];
    ReadRegistryString(HKEY_LOCAL_MACHINE, UninstallKey, InstallLocationValue, "", location, sizeof location);
    EXPECT_STREQ(location, "");
    ReadRegistryString(HKEY_LOCAL_MACHINE, OldUninstallKey, InstallLocationValue, "", location,
                       sizeof location);
    EXPECT_STREQ(location, "");

    WriteProductRegistration(DefaultUninstaller);
    ReadRegistryString(HKEY_LOCAL_MACHINE, UninstallKey, InstallLocationValue, "", location, sizeof location);
    EXPECT_STREQ(location, DefaultDestination);
    ReadRegistryString(HKEY_LOCAL_MACHINE, OldUninstallKey, InstallLocationValue, "", location,
                       sizeof location);
    EXPECT_STREQ(location, "") << "registration must not write the previous version's entry";

    char programFiles[MAX_PATH];
    ReadRegistryString(HKEY_LOCAL_MACHINE, CurrentVersionKey, ProgramFilesDirValue, DefaultProgramFilesDir,
                       programFiles, sizeof programFiles);
    // A 32-bit program on 64-bit Windows reads its own Program Files.
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    EXPECT_STREQ(programFiles, wow64 ? "C:\\Program Files (x86)" : "C:\\Program Files");
}

// The system's own values of the CurrentVersion key, taken away for one test and put back.
class SavedCurrentVersionValue {
public:
    explicit SavedCurrentVersionValue(const char* name) : Name(name)
    {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, CurrentVersionKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
            return;
        Size = sizeof Data;
        Present = RegQueryValueExA(key, Name, nullptr, &Type, Data, &Size) == ERROR_SUCCESS;
        RegDeleteValueA(key, Name);
        RegCloseKey(key);
    }
    ~SavedCurrentVersionValue()
    {
        HKEY key;
        if (!Present ||
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, CurrentVersionKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
            return;
        RegSetValueExA(key, Name, 0, Type, Data, Size);
        RegCloseKey(key);
    }

private:
    const char* Name;
    bool Present = false;
    DWORD Type = REG_NONE;
    BYTE Data[1024];
    DWORD Size = 0;
};

TEST_F(ProductRegistrationTest, DefaultsStandInForMissingProgramFilesAndOwnerValues)
{
    {
        SavedCurrentVersionValue programFilesSaved(ProgramFilesDirValue);
        SavedCurrentVersionValue ownerSaved(RegisteredOwnerValue);
        char programFiles[MAX_PATH];
        char owner[128];
        memset(owner, 'x', sizeof owner);
        ReadRegistryString(HKEY_LOCAL_MACHINE, CurrentVersionKey, ProgramFilesDirValue,
                           DefaultProgramFilesDir, programFiles, sizeof programFiles);
        ReadRegistryString(HKEY_LOCAL_MACHINE, CurrentVersionKey, RegisteredOwnerValue, "", owner,
                           sizeof owner);
        EXPECT_STREQ(programFiles, "C:\\Program Files");
        EXPECT_STREQ(owner, "");
    }
    // Put back: the prefix's own folder is read again.
    char programFiles[MAX_PATH];
    ReadRegistryString(HKEY_LOCAL_MACHINE, CurrentVersionKey, ProgramFilesDirValue, "<missing>", programFiles,
                       sizeof programFiles);
    EXPECT_STRNE(programFiles, "<missing>");
}

TEST_F(ProductRegistrationTest, RemoveLeavesExactlyWhatTheClimbKeeps)
{
    const std::string uninstallParent = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    WriteProductRegistration(DefaultUninstaller);
    WriteRegistryString(HKEY_LOCAL_MACHINE, RunKey, RunValueName, "\"C:\\Program Files\\TALVIQ\\tpz2.exe\"");
    // Values the install never writes but an uninstall removes wherever they are.
    WriteRegistryString(HKEY_CURRENT_USER, RunKey, RunValueName, "\"C:\\elsewhere\\tpz2.exe\"");
    WriteRegistryString(HKEY_CURRENT_USER, RunKey, "ZorvaneTestKeep", "stays");
    WriteRegistryString(HKEY_LOCAL_MACHINE, ProductSettingsKey, "Setting", "machine");
    WriteRegistryString(HKEY_LOCAL_MACHINE, "Software\\TALVIQ\\Project Zorvane PE\\1.0", "Setting",
                        "sibling");
    WriteRegistryString(HKEY_CURRENT_USER, ProductSettingsKey, "Setting", "user");
    WriteRegistryString(HKEY_LOCAL_MACHINE, OldUninstallKey, InstallLocationValue, "C:\\Old Zorvane");

    RemoveProductRegistration();

    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallKey));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, uninstallParent));
    ExpectValue(HKEY_LOCAL_MACHINE, OldUninstallKey,
                {"InstallLocation", REG_SZ, StoredText("C:\\Old Zorvane")});

    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ProductSettingsKey));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\TALVIQ\\Project Zorvane PE\\1.0"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\TALVIQ"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software"));

    EXPECT_FALSE(QueryValue(HKEY_LOCAL_MACHINE, RunKey, RunValueName).Found);
    EXPECT_FALSE(QueryValue(HKEY_CURRENT_USER, RunKey, RunValueName).Found);
    EXPECT_TRUE(QueryValue(HKEY_CURRENT_USER, RunKey, "ZorvaneTestKeep").Found);

    EXPECT_FALSE(
        KeyExists(HKEY_LOCAL_MACHINE, std::string(AddinDesignerParent) + "\\TALVIQ Project Zorvane"));
    EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, AddinDesignerParent), AddinDesignerExisted);
    EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, SharedToolsKey), SharedToolsExisted);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Microsoft"));
}

TEST_F(ProductRegistrationTest, RemoveKeepsKeysThatStillHaveSubkeysAndTheirParents)
{
    WriteProductRegistration(DefaultUninstaller);
    CreateKey(HKEY_CURRENT_USER, std::string(ProductSettingsKey) + "\\Recent");
    CreateKey(HKEY_LOCAL_MACHINE, std::string(AddinDesignerKey) + "\\Other");

    RemoveProductRegistration();

    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, std::string(ProductSettingsKey) + "\\Recent"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, LoadBehaviorsKey));
    ExpectValue(HKEY_LOCAL_MACHINE, AddinDesignerKey,
                {"", REG_SZ, StoredText("HKEY_CURRENT_USER\\Software\\TALVIQ\\Project Zorvane PE\\2.0")});
}

} // namespace
