#include "system/Shortcuts.h"

#include "core/ZorvaneException.h"
#include "core/SetupState.h"
#include "payload/InstallLog.h"
#include "support/ScopedTempDir.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <string.h>

namespace {

const char Sentinel = '\x5a';

// What a saved shortcut file holds, read back through the shell's own interfaces.
struct LinkProperties {
    HRESULT LoadResult = E_FAIL;
    std::string Target;
    std::string Arguments;
    std::string IconPath;
    int IconIndex = -1;
    std::string Description;
};

LinkProperties ReadShellLink(const std::string& path)
{
    LinkProperties properties;
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))))
        return properties;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        WCHAR widePath[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, MAX_PATH);
        properties.LoadResult = file->Load(widePath, STGM_READ);
        file->Release();
    }
    if (SUCCEEDED(properties.LoadResult)) {
        char text[1024];
        WIN32_FIND_DATAA found;
        if (SUCCEEDED(link->GetPath(text, sizeof text, &found, SLGP_RAWPATH)))
            properties.Target = text;
        if (SUCCEEDED(link->GetArguments(text, sizeof text)))
            properties.Arguments = text;
        if (SUCCEEDED(link->GetIconLocation(text, sizeof text, &properties.IconIndex)))
            properties.IconPath = text;
        if (SUCCEEDED(link->GetDescription(text, sizeof text)))
            properties.Description = text;
    }
    link->Release();
    return properties;
}

// A Programs folder and an installed product folder inside one temporary folder; the two scratch
// buffers are followed by sentinels.
class ShortcutsTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        Programs = Dir.Join("Start Menu\\Programs");
        Destination = Dir.Join("Program Files\\TALVIQ\\Project Zorvane PE");
        ASSERT_TRUE(CreateDirectoryA(Dir.Join("Start Menu").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA(Programs.c_str(), nullptr));
        ASSERT_TRUE(SHCreateDirectoryExA(nullptr, Destination.c_str(), nullptr) == ERROR_SUCCESS);
        for (const char* target : {"tpz2.exe", "Wendlor.exe", "Setup.exe"})
            WriteTestFile(Destination + "\\" + target, "MZ");
        lstrcpynA(DestinationFolder, Destination.c_str(), sizeof DestinationFolder);
        Folder = Programs + "\\TALVIQ Project Zorvane PE Demo";
        LogPath = Dir.Join(InstallLogName);
        memset(Buffers, Sentinel, sizeof Buffers);
        SetShortcutLogging(
            [](FileWriter& log, const char* folder) { WriteLogRecord(log, FolderRecord, folder); },
            [](FileWriter& log, const char* path) { WriteLogRecord(log, FileRecord, path); });
    }

    void TearDown() override
    {
        for (size_t i = MAX_PATH; i < sizeof Buffers[0]; ++i) {
            EXPECT_EQ(Buffers[0][i], Sentinel) << "shortcut path buffer overrun at " << i;
            EXPECT_EQ(Buffers[1][i], Sentinel) << "target path buffer overrun at " << i;
        }
        CoUninitialize();
    }

    // Runs the creation with programsFolder as the Programs folder; the log is closed afterwards.
    void CreateIn(const std::string& programsFolder)
    {
        lstrcpynA(Buffers[0], programsFolder.c_str(), MAX_PATH);
        FileWriter log(LogPath.c_str());
        CreateShortcutsInProgramsFolder(log, Buffers[0], Buffers[1]);
    }

    // The error code and name of the exception the creation throws; code 0 when none.
    ZorvaneException FailureIn(const std::string& programsFolder)
    {
        SetLastError(0xdeadbeef);
        try {
            CreateIn(programsFolder);
        } catch (const ZorvaneException& error) {
            return error;
        }
        return ZorvaneException(0);
    }

    ScopedTempDir Dir;
    std::string Programs;
    std::string Destination;
    std::string Folder;
    std::string LogPath;
    char Buffers[2][MAX_PATH + 16];
};

TEST_F(ShortcutsTest, CreatesTheFolderAndThreeShortcutsWithExactlyTheirProperties)
{
    CreateIn(Programs);

    LinkProperties product = ReadShellLink(Folder + "\\Project Zorvane PE Demo.lnk");
    ASSERT_EQ(product.LoadResult, S_OK);
    EXPECT_EQ(product.Target, Destination + "\\tpz2.exe");
    EXPECT_EQ(product.Arguments, "");
    EXPECT_EQ(product.IconPath, "");
    EXPECT_EQ(product.IconIndex, 0);
    EXPECT_EQ(product.Description, "TALVIQ Project Zorvane 2 PE Demo");

    LinkProperties manager = ReadShellLink(Folder + "\\Wendlor.lnk");
    ASSERT_EQ(manager.LoadResult, S_OK);
    EXPECT_EQ(manager.Target, Destination + "\\Wendlor.exe");
    EXPECT_EQ(manager.Arguments, "");
    EXPECT_EQ(manager.IconPath, "");
    EXPECT_EQ(manager.IconIndex, 0);
    EXPECT_EQ(manager.Description, "");

    LinkProperties uninstaller = ReadShellLink(Folder + "\\Uninstall Project Zorvane Demo.lnk");
    ASSERT_EQ(uninstaller.LoadResult, S_OK);
    EXPECT_EQ(uninstaller.Target, Destination + "\\Setup.exe");
    EXPECT_EQ(uninstaller.Arguments, " /r");
    EXPECT_EQ(uninstaller.IconPath, Destination + "\\Setup.exe");
    EXPECT_EQ(uninstaller.IconIndex, 1);
    EXPECT_EQ(uninstaller.Description, "");

    EXPECT_EQ(ReadTestFile(LogPath), "#" + Folder + "\r\n" +                                  //
                                         "+" + Folder + "\\Project Zorvane PE Demo.lnk\r\n" + //
                                         "+" + Folder + "\\Wendlor.lnk\r\n" +                 //
                                         "+" + Folder + "\\Uninstall Project Zorvane Demo.lnk\r\n");
}

TEST_F(ShortcutsTest, ASecondRunReplacesEveryShortcutAndLogsTheExistingFolderAgain)
{
    CreateIn(Programs);
    // Whatever lies at a shortcut's path is replaced, and a new destination is taken up.
    WriteTestFile(Folder + "\\Wendlor.lnk", "not a shortcut");
    Destination = Dir.Join("Second");
    lstrcpynA(DestinationFolder, Destination.c_str(), sizeof DestinationFolder);
    CreateIn(Programs);

    EXPECT_EQ(ReadShellLink(Folder + "\\Project Zorvane PE Demo.lnk").Target, Destination + "\\tpz2.exe");
    EXPECT_EQ(ReadShellLink(Folder + "\\Wendlor.lnk").Target, Destination + "\\Wendlor.exe");
    EXPECT_EQ(ReadShellLink(Folder + "\\Uninstall Project Zorvane Demo.lnk").Target,
              Destination + "\\Setup.exe");
    EXPECT_EQ(ReadTestFile(LogPath), "#" + Folder + "\r\n" +                                  //
                                         "+" + Folder + "\\Project Zorvane PE Demo.lnk\r\n" + //
                                         "+" + Folder + "\\Wendlor.lnk\r\n" +                 //
                                         "+" + Folder + "\\Uninstall Project Zorvane Demo.lnk\r\n");
}

TEST_F(ShortcutsTest, AFileInTheWayOfTheFolderRaisesCode16WithNothingMadeOrLogged)
{
    WriteTestFile(Folder, "a file, not a folder");
    ZorvaneException error = FailureIn(Programs);
    EXPECT_EQ(error.ErrorCode, ErrFailedToCreateFolder);
    EXPECT_EQ(std::string(error.FileName), Folder);
    EXPECT_EQ(ReadTestFile(LogPath), "");
    EXPECT_EQ(ReadTestFile(Folder), "a file, not a folder");
}

TEST_F(ShortcutsTest, AnUnknownOrRelativeProgramsFolderRaisesCode16AndCreatesNothingInTheCurrentFolder)
{
    char previous[MAX_PATH];
    ASSERT_NE(GetCurrentDirectoryA(sizeof previous, previous), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(Programs.c_str()));

    ZorvaneException unknown = FailureIn("");
    ZorvaneException relative = FailureIn("Start Menu");
    ZorvaneException driveRelative = FailureIn("\\Start Menu");
    SetCurrentDirectoryA(previous);

    EXPECT_EQ(unknown.ErrorCode, ErrFailedToCreateFolder);
    EXPECT_STREQ(unknown.FileName, "TALVIQ Project Zorvane PE Demo");
    EXPECT_EQ(unknown.SystemError, DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(relative.ErrorCode, ErrFailedToCreateFolder);
    EXPECT_STREQ(relative.FileName, "Start Menu\\TALVIQ Project Zorvane PE Demo");
    EXPECT_EQ(driveRelative.ErrorCode, ErrFailedToCreateFolder);
    EXPECT_FALSE(FolderExists(Folder));
    EXPECT_FALSE(FolderExists(Programs + "\\Start Menu"));
    EXPECT_EQ(ReadTestFile(LogPath), "");
}

TEST_F(ShortcutsTest, PathsThatWouldNotFitRaiseCode16ForTheFolderBeforeAnythingIsMade)
{
    // The folder itself fits, but its longest shortcut name (35 characters with the backslash) does not.
    const size_t folderRoom = MAX_PATH - 1 - 35; // the longest folder path whose joins all fit
    std::string programs = Programs + "\\" + std::string(folderRoom - Programs.size() - 1 - 31 + 1, 'p');
    std::string folder = programs + "\\TALVIQ Project Zorvane PE Demo";
    ASSERT_EQ(folder.size(), folderRoom + 1);
    ZorvaneException noRoomForShortcuts = FailureIn(programs);
    EXPECT_EQ(noRoomForShortcuts.ErrorCode, ErrFailedToCreateFolder);
    EXPECT_EQ(std::string(noRoomForShortcuts.FileName), folder);
    EXPECT_EQ(noRoomForShortcuts.SystemError, DWORD(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_FALSE(FolderExists(programs));

    // Not even the folder fits: the name is the meant folder, cut to what the error holds.
    std::string longPrograms = Programs + "\\" + std::string(MAX_PATH - 1 - Programs.size() - 1 - 10, 'q');
    ZorvaneException noRoomForFolder = FailureIn(longPrograms);
    EXPECT_EQ(noRoomForFolder.ErrorCode, ErrFailedToCreateFolder);
    EXPECT_EQ(std::string(noRoomForFolder.FileName),
              (longPrograms + "\\TALVIQ Project Zorvane PE Demo").substr(0, MAX_PATH - 1));
    EXPECT_EQ(noRoomForFolder.SystemError, DWORD(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(ReadTestFile(LogPath), "");

    // A destination too long to name the shortcuts' targets in: the message names the destination.
    std::string longDestination =
        Destination + "\\" + std::string(MAX_PATH - 1 - Destination.size() - 1 - 5, 'd');
    lstrcpynA(DestinationFolder, longDestination.c_str(), sizeof DestinationFolder);
    ZorvaneException noRoomForTargets = FailureIn(Programs);
    lstrcpynA(DestinationFolder, Destination.c_str(), sizeof DestinationFolder);
    EXPECT_EQ(noRoomForTargets.ErrorCode, ErrFailedToCreateFolder);
    EXPECT_EQ(std::string(noRoomForTargets.FileName), longDestination);
    EXPECT_FALSE(FolderExists(Programs + "\\TALVIQ Project Zorvane PE Demo"));
    EXPECT_EQ(ReadTestFile(LogPath), "");

    // One character less and every shortcut path fits exactly.
    programs.pop_back();
    ASSERT_TRUE(CreateDirectoryA(programs.c_str(), nullptr));
    CreateIn(programs);
    std::string longestLink =
        programs + "\\TALVIQ Project Zorvane PE Demo\\Uninstall Project Zorvane Demo.lnk";
    ASSERT_EQ(longestLink.size(), size_t(MAX_PATH - 1));
    EXPECT_EQ(ReadShellLink(longestLink).Arguments, " /r");
}

TEST_F(ShortcutsTest, CreateShellLinkReportsAFailedSaveAndWritesNoFile)
{
    std::string missingFolderLink = Dir.Join("Missing\\x.lnk");
    EXPECT_LT(
        CreateShellLink(missingFolderLink.c_str(), (Destination + "\\tpz2.exe").c_str(), 0, nullptr, nullptr),
        0);
    EXPECT_FALSE(FileExists(missingFolderLink));

    std::string link = Dir.Join("x.lnk");
    EXPECT_EQ(CreateShellLink(link.c_str(), (Destination + "\\tpz2.exe").c_str(), 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(ReadShellLink(link).Target, Destination + "\\tpz2.exe");
}

TEST_F(ShortcutsTest, GetSpecialFolderPathNamesTheUsersProgramsFolderAndNothingForAnUnknownFolder)
{
    char expected[MAX_PATH];
    ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, expected), S_OK);
    GetSpecialFolderPath(nullptr, CSIDL_PROGRAMS, Buffers[0]);
    EXPECT_STREQ(Buffers[0], expected);
    EXPECT_TRUE(FolderExists(Buffers[0]));

    memset(Buffers[1], 'x', MAX_PATH);
    GetSpecialFolderPath(nullptr, 0x7f, Buffers[1]);
    EXPECT_STREQ(Buffers[1], "");
}

TEST_F(ShortcutsTest, CreateStartMenuShortcutsWorksInTheRealProgramsFolder)
{
    char programs[MAX_PATH];
    ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, programs), S_OK);
    std::string folder = std::string(programs) + "\\TALVIQ Project Zorvane PE Demo";
    ASSERT_FALSE(FolderExists(folder)) << "left over from an earlier run: " << folder;
    {
        FileWriter log(LogPath.c_str());
        CreateStartMenuShortcuts(nullptr, CSIDL_PROGRAMS, log, Buffers[0], Buffers[1]);
    }
    LinkProperties uninstaller = ReadShellLink(folder + "\\Uninstall Project Zorvane Demo.lnk");
    bool removed = RemoveTree(folder);

    EXPECT_EQ(uninstaller.LoadResult, S_OK);
    EXPECT_EQ(uninstaller.Target, Destination + "\\Setup.exe");
    EXPECT_EQ(ReadTestFile(LogPath).substr(0, folder.size() + 3), "#" + folder + "\r\n");
    EXPECT_TRUE(removed) << "could not remove " << folder;
}

} // namespace
