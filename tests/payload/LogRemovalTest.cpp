#include "payload/LogRemoval.h"

#include "core/StartMenuFolders.h"
#include "payload/BootTimeDeletion.h"
#include "support/BootRequests.h"
#include "support/ScopedTempDir.h"

#include <gtest/gtest.h>

#include <shlobj.h>

namespace {

// The log over lines joined by CR LF, the last one without a line end.
void WriteLog(const std::string& folder, const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += (text.empty() ? "" : "\r\n") + line;
    WriteTestFile(folder + "\\Setup.log", text);
}

// The path of the request below the first "[rename]" line of Wininit.ini.
std::string RequestedPath()
{
    std::string text = WininitText();
    size_t start = text.find("[rename]\r\nNUL=");
    return start == std::string::npos ? ""
                                      : text.substr(start + 14, text.find("\r\n", start + 14) - start - 14);
}

TEST(RemoveLoggedFiles, DeletesFilesBeforeFolderChainsAndAsksForTheUninstallersDeletionByItsShortPath)
{
    SavedBootRequests saved;
    ScopedTempDir dir;
    const std::string inst = dir.Join("Project Zorvane PE");
    for (const char* folder : {"", "\\Data", "\\Shared", "\\Shared\\Sub", "\\Empty", "\\Empty\\Deeper"})
        CreateDirectoryA((inst + folder).c_str(), nullptr);
    for (const char* file : {"\\Setup.exe", "\\tpz2.exe", "\\keep.txt", "\\Readme.txt", "\\Data\\sample.tpz",
                             "\\Shared\\other.txt", "\\Shared\\Sub\\x.txt"})
        WriteTestFile(inst + file, "x");
    WriteLog(inst,
             {"#" + inst, "#" + inst + "\\Data\\", "+" + inst + "\\Data\\sample.tpz",
              "#" + inst + "\\Shared\\Sub\\", "", "*" + inst + "\\keep.txt", "#" + inst + "\\Empty\\Deeper",
              "+" + inst + "\\Shared\\Sub\\x.txt", "+" + inst + "\\tpz2.exe", "+" + inst + "\\Readme.txt"});

    EXPECT_EQ(RemoveLoggedFiles(nullptr, inst.c_str()).Outcome, LogRemovalOutcome::Removed);

    for (const char* gone :
         {"\\tpz2.exe", "\\Readme.txt", "\\Data", "\\Shared\\Sub", "\\Empty", "\\Setup.log"})
        EXPECT_EQ(GetFileAttributesA((inst + gone).c_str()), INVALID_FILE_ATTRIBUTES) << gone;
    for (const char* kept : {"\\Setup.exe", "\\keep.txt", "\\Shared\\other.txt"})
        EXPECT_TRUE(FileExists(inst + kept)) << kept;
    std::string requested = RequestedPath();
    char longForm[MAX_PATH] = "";
    GetLongPathNameA(requested.c_str(), longForm, sizeof longForm);
    EXPECT_EQ(lstrcmpiA(longForm, (inst + "\\Setup.exe").c_str()), 0) << requested;
    EXPECT_EQ(requested.find(' '), std::string::npos) << requested;
    EXPECT_TRUE(IsPendingDeletion(requested)) << requested;
}

TEST(RemoveLoggedFiles, ActsOnlyOnRecordsInsideTheInstallationSystemOrStartMenuFolder)
{
    SavedBootRequests saved;
    ScopedTempDir dir;
    const std::string inst = dir.Join("Project Zorvane PE"), out = dir.Join("out");
    char system[MAX_PATH], programs[MAX_PATH], common[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    GetSpecialFolderPath(nullptr, CSIDL_PROGRAMS, programs);
    ASSERT_TRUE(GetProductStartMenuFolder(nullptr, CSIDL_COMMON_PROGRAMS, common));
    const std::string menu = std::string(programs) + "\\" + StartMenuFolder;
    const std::string allUsersMenu = common; // where an install for all users puts its shortcuts
    const std::string systemFile = std::string(system) + "\\ZorvaneRemovalTest.txt";
    for (const std::string& folder :
         {inst, out, out + "\\empty", inst + "2", menu, menu + " Extra", allUsersMenu})
        CreateDirectoryA(folder.c_str(), nullptr);
    std::string upperInst = inst;
    CharUpperA(&upperInst[0]);
    const std::string filler = "*" + std::string(458, 'x'); // fills the reader's line buffer

    std::vector<std::string> lines = {filler + "Q+" + inst + "\\h", "#" + out + "\\empty", filler, "#" + menu,
                                      "#" + allUsersMenu};
    for (const std::string& named :
         {out + "\\a", inst + "\\..\\out\\b", inst + "\\.\\c", inst + "/../out/d", inst + "2\\e",
          std::string("f"), upperInst + "\\i", systemFile, menu + "\\j.lnk", menu + " Extra\\k.lnk",
          allUsersMenu + "\\l.lnk", inst + "\\held.txt"})
        lines.push_back("+" + named);
    WriteLog(inst, lines);
    for (const std::string& file : {out + "\\a", out + "\\b", inst + "\\c", out + "\\d", inst + "2\\e",
                                    out + "\\f", inst + "\\h", inst + "\\i", systemFile, menu + "\\j.lnk",
                                    menu + " Extra\\k.lnk", allUsersMenu + "\\l.lnk", inst + "\\held.txt"})
        WriteTestFile(file, "x");
    // Held open by another program without leave to delete it: it goes at the next start.
    HANDLE held = CreateFileA((inst + "\\held.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    const unsigned leftBefore = FilesLeftForRestart();
    char current[MAX_PATH];
    GetCurrentDirectoryA(sizeof current, current);
    SetCurrentDirectoryA(out.c_str()); // where the relative record "f" points

    EXPECT_EQ(RemoveLoggedFiles(nullptr, inst.c_str()).Outcome, LogRemovalOutcome::Removed);
    CloseHandle(held);

    SetCurrentDirectoryA(current);
    EXPECT_EQ(FilesLeftForRestart(), leftBefore + 1);
    char heldShort[MAX_PATH] = "";
    GetShortPathNameA((inst + "\\held.txt").c_str(), heldShort, sizeof heldShort);
    EXPECT_TRUE(IsPendingDeletion(heldShort)) << "requested by its short path, as the uninstaller is";
    EXPECT_TRUE(FileExists(inst + "\\held.txt"));
    for (const std::string& kept : {out + "\\a", out + "\\b", inst + "\\c", out + "\\d", inst + "2\\e",
                                    out + "\\f", inst + "\\h", menu + " Extra\\k.lnk"})
        EXPECT_TRUE(FileExists(kept)) << kept;
    for (const std::string& gone : {inst + "\\i", systemFile, menu, allUsersMenu})
        EXPECT_EQ(GetFileAttributesA(gone.c_str()), INVALID_FILE_ATTRIBUTES) << gone;
    EXPECT_TRUE(FolderExists(out + "\\empty"));
    // Without Setup.exe there is no short form: the request names the long path.
    EXPECT_EQ(RequestedPath(), inst + "\\Setup.exe");
    EXPECT_TRUE(IsPendingDeletion(inst + "\\Setup.exe"));
    DeleteFileA(systemFile.c_str());
    RemoveTree(menu);
    RemoveTree(menu + " Extra");
}

TEST(RemoveLoggedFiles, WithoutALogTouchesNothingAndSaysSoUnlessAResumedRunDeletedItAlready)
{
    SavedBootRequests saved;
    ScopedTempDir dir;
    const std::string inst = dir.Join("Project Zorvane PE");
    CreateDirectoryA(inst.c_str(), nullptr);
    WriteTestFile(inst + "\\tpz2.exe", "x");
    // A folder where the log should be: it cannot be opened as one.
    for (bool logIsFolder : {false, true}) {
        SCOPED_TRACE(logIsFolder ? "a folder named Setup.log" : "no Setup.log");
        if (logIsFolder)
            CreateDirectoryA((inst + "\\Setup.log").c_str(), nullptr);
        LogRemovalResult result = RemoveLoggedFiles(nullptr, inst.c_str());
        EXPECT_EQ(result.Outcome, LogRemovalOutcome::NoLog);
        EXPECT_FALSE(result.ReadError.has_value());
        EXPECT_TRUE(FileExists(inst + "\\tpz2.exe"));
        EXPECT_FALSE(IsPendingDeletion(inst + "\\Setup.exe")) << "nothing is asked of the next restart";
    }
    LogRemovalResult resumed = RemoveLoggedFiles(nullptr, inst.c_str(), true);
    EXPECT_EQ(resumed.Outcome, LogRemovalOutcome::Removed);
    EXPECT_TRUE(IsPendingDeletion(inst + "\\Setup.exe"))
        << "the cut run removed the files: only Setup.exe is left";
    EXPECT_TRUE(FileExists(inst + "\\tpz2.exe")) << "no log, no record acted on";
}

} // namespace
