#include "payload/BootTimeDeletion.h"

#include "support/BootRequests.h"
#include "support/ScopedTempDir.h"

#include <gtest/gtest.h>

#include <string.h>

namespace {

const char Request[] = "NUL=C:\\PROGRA~1\\TALVIQ\\PROJEC~1\\Setup.exe";
const std::string Added = std::string(Request) + "\r\n";
const bool Missing = false;

std::string WininitTextIn(const ScopedTempDir& windows)
{
    return FileExists(windows.Join("Wininit.ini")) ? ReadTestFile(windows.Join("Wininit.ini"))
                                                   : std::string();
}

const char SessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";

RegistryValue PendingRenames()
{
    return QueryValue(HKEY_LOCAL_MACHINE, SessionManager, "PendingFileRenameOperations");
}

void ClearPendingRenames()
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManager, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    RegDeleteValueA(key, "PendingFileRenameOperations");
    RegCloseKey(key);
}

struct WininitCase {
    const char* Situation;
    bool Exists;
    std::string Before;
    std::string After;
};

TEST(AddWininitRenameLine, InsertsBelowEverySectionLineOrAppendsTheSectionAndRewritesLineEnds)
{
    const std::string longLine(1500, 'k');
    const WininitCase cases[] = {
        {"missing", Missing, "", "[rename]\r\n" + Added},
        {"with the section", true, "[boot]\r\nx=1\r\n[rename]\r\nNUL=C:\\OLD.EXE\r\n[other]\r\n",
         "[boot]\r\nx=1\r\n[rename]\r\n" + Added + "NUL=C:\\OLD.EXE\r\n[other]\r\n"},
        {"without the section", true, "[boot]\r\nx=1\r\n", "[boot]\r\nx=1\r\n\r\n[rename]\r\n" + Added},
        {"two sections", true, "[rename]\r\na\r\n[rename]\r\nb\r\n",
         "[rename]\r\n" + Added + "a\r\n[rename]\r\n" + Added + "b\r\n"},
        {"other case and blanks", true, "[Rename]\r\n [rename]\r\n[rename] \r\n",
         "[Rename]\r\n [rename]\r\n[rename] \r\n\r\n[rename]\r\n" + Added},
        {"lone LF and CR, no final line end", true, "a\nb\r[rename]\r\n\nc",
         "a\r\nb\r\n[rename]\r\n" + Added + "\r\nc\r\n"},
        {"a line over 1023 characters", true, "[rename]\r\n" + longLine + "\r\nz",
         "[rename]\r\n" + Added + longLine.substr(0, 1023) + "\r\nz\r\n"},
        {"empty", true, "", "\r\n[rename]\r\n" + Added},
    };
    for (const WininitCase& c : cases) {
        ScopedTempDir windows;
        if (c.Exists)
            WriteTestFile(windows.Join("Wininit.ini"), c.Before);
        AddWininitRenameLineIn(windows.Path().c_str(), Request);
        EXPECT_EQ(ReadTestFile(windows.Join("Wininit.ini")), c.After) << c.Situation;
        EXPECT_FALSE(FileExists(windows.Join("Wininit.~in"))) << c.Situation;
    }
}

TEST(AddWininitRenameLine, LeavesWininitAsItWasWhenNoCompleteWorkingCopyCanTakeItsPlace)
{
    const std::string before = "[rename]\r\nNUL=C:\\OLD.EXE\r\n";
    {
        ScopedTempDir windows;
        WriteTestFile(windows.Join("Wininit.ini"), before);
        ASSERT_TRUE(CreateDirectoryA(windows.Join("Wininit.~in").c_str(), nullptr));
        AddWininitRenameLineIn(windows.Path().c_str(), Request);
        EXPECT_EQ(ReadTestFile(windows.Join("Wininit.ini")), before) << "working copy cannot be created";
    }
    // Held by another program: for reading and replacing, or only for replacing.
    for (DWORD access : {DWORD(GENERIC_READ), DWORD(FILE_READ_ATTRIBUTES)}) {
        ScopedTempDir windows;
        WriteTestFile(windows.Join("Wininit.ini"), before);
        HANDLE held =
            CreateFileA(windows.Join("Wininit.ini").c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        AddWininitRenameLineIn(windows.Path().c_str(), Request);
        CloseHandle(held);
        EXPECT_EQ(ReadTestFile(windows.Join("Wininit.ini")), before) << "held with access " << access;
        EXPECT_FALSE(FileExists(windows.Join("Wininit.~in"))) << "held with access " << access;
    }
}

// Requests for paths with "OURS" in them are withdrawn.
bool NamesOurs(const char* path) { return strstr(path, "OURS") != nullptr; }

TEST(WithdrawWininitDeletions, DropsOnlyTheTakenDeletionsOfRenameSectionsAndElseLeavesTheFileAlone)
{
    const struct {
        const char* Situation;
        bool Exists;
        std::string Before;
        std::string After;
        int Withdrawn;
    } cases[] = {
        {"missing", Missing, "", "", 0},
        {"ours among others", true,
         "[boot]\r\nNUL=C:\\OURS\\b\r\n[rename]\r\nNUL=C:\\OURS\\a\r\nNUL=C:\\THEIRS\r\n",
         "[boot]\r\nNUL=C:\\OURS\\b\r\n[rename]\r\nNUL=C:\\THEIRS\r\n", 1},
        {"as the system reads the section", true,
         "[Rename]\r\n nul = C:\\OURS\\a \r\nC:\\OURS\\new=C:\\x\r\n[other]\r\nNUL=C:\\OURS\\c\r\n [rename] "
         "\r\n"
         "Nul=C:\\OURS\\d\n",
         "[Rename]\r\nC:\\OURS\\new=C:\\x\r\n[other]\r\nNUL=C:\\OURS\\c\r\n [rename] \r\n", 2},
        {"nothing of ours: not rewritten", true, "[rename]\nNUL=C:\\THEIRS\rx", "[rename]\nNUL=C:\\THEIRS\rx",
         0},
    };
    for (const auto& c : cases) {
        ScopedTempDir windows;
        if (c.Exists)
            WriteTestFile(windows.Join("Wininit.ini"), c.Before);
        EXPECT_EQ(WithdrawWininitDeletionsIn(windows.Path().c_str(), NamesOurs), c.Withdrawn) << c.Situation;
        EXPECT_EQ(FileExists(windows.Join("Wininit.ini")), c.Exists) << c.Situation;
        EXPECT_EQ(WininitTextIn(windows), c.After) << c.Situation;
        EXPECT_FALSE(FileExists(windows.Join("Wininit.~in"))) << c.Situation;
    }
}

TEST(WithdrawPendingDeletions, DropsTheTakenDeletionsAndKeepsRenamesAndOthers)
{
    SavedBootRequests saved;
    ScopedTempDir dir;
    const std::string ours = dir.Join("OURS.txt");
    const std::string theirs = dir.Join("theirs.txt");
    WriteTestFile(ours, "a file a later install put where a deletion was asked for");
    WriteTestFile(theirs, "x");
    ClearPendingRenames();

    ASSERT_TRUE(MoveFileExA(ours.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    ASSERT_TRUE(MoveFileExA(ours.c_str(), dir.Join("renamed.txt").c_str(), MOVEFILE_DELAY_UNTIL_REBOOT));
    ASSERT_TRUE(MoveFileExA(theirs.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    ASSERT_TRUE(MoveFileExA(ours.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    // Noted as files the restart takes, which changes nothing.
    const RegistryValue requested = PendingRenames();
    NoteRestartDeletions();
    EXPECT_EQ(PendingRenames().Data, requested.Data);
    EXPECT_TRUE(IsDeletedAtRestart(ours.c_str()));
    EXPECT_TRUE(IsDeletedAtRestart(dir.Join("ours.TXT").c_str())) << "as the system reads paths";
    EXPECT_FALSE(IsDeletedAtRestart(dir.Join("renamed.txt").c_str())) << "a rename's target";
    EXPECT_EQ(WithdrawPendingDeletions(NamesOurs), 2);
    EXPECT_FALSE(IsPendingDeletion(ours));
    EXPECT_TRUE(IsPendingDeletion(theirs));
    EXPECT_NE(PendingRenames().Data.find("renamed.txt"), std::string::npos) << "a rename is no deletion";
    EXPECT_EQ(WithdrawPendingDeletions(NamesOurs), 0) << "nothing more to withdraw";

    // With nothing left in it, the value goes.
    ClearPendingRenames();
    ASSERT_TRUE(MoveFileExA(ours.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    EXPECT_EQ(WithdrawPendingDeletions(NamesOurs), 1);
    EXPECT_FALSE(PendingRenames().Found);
}

} // namespace
