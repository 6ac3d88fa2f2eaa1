#include "payload/BootTimeDeletion.h"

#include "support/ScopedTempDir.h"

#include <gtest/gtest.h>

namespace {

const char Request[] = "NUL=C:\\PROGRA~1\\TALVIQ\\PROJEC~1\\Setup.exe";
const std::string Added = std::string(Request) + "\r\n";
const bool Missing = false;

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

} // namespace
