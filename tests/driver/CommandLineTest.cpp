#include "driver/CommandLine.h"

#include "core/SetupState.h"

#include <gtest/gtest.h>

namespace {

TEST(UninstallModeFromCommandLine, OnlyTheFirstArgumentsFirstLetterAfterOneSwitchDecides)
{
    const struct {
        const char* CommandLine;
        int Mode;
    } cases[] = {
        {"\"C:\\Program Files\\TALVIQ\\Project Zorvane PE\\Setup.exe\"", 0},
        {"\"C:\\Program Files\\TALVIQ\\Project Zorvane PE\\Setup.exe\" /r", 1},
        {"\"C:\\Setup Files\\Setup.exe\"r", 1}, // the closing quote is the one delimiter
        {"Setup.exe", 0},
        {"Setup.exe\tR", 1},
        {"Setup.exe -r", 1},
        {"Setup.exe /R", 1},
        {"Setup.exe /remove", 1},
        {"Setup.exe /Repair", 1},
        {"Setup.exe /x", 0},
        {"Setup.exe -", 0},
        {"Setup.exe / r", 0}, // no blank is skipped after the switch
        {"Setup.exe --r", 0}, // only one switch character is stepped over
        {"Setup.exe x r", 0}, // only the first argument counts
        {"Setup.exe r", 1},
        {"C:\\My rules\\Setup.exe", 1}, // unquoted, the path's second part is the argument
        {"", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UninstallModeFromCommandLine(c.CommandLine), c.Mode) << "[" << c.CommandLine << "]";
}

TEST(ParseCommandLine, ReadsThisProcesssCommandLine)
{
    // The test program runs without arguments or with switches of two hyphens: install.
    UninstallMode = 1;
    ParseCommandLine();
    EXPECT_EQ(UninstallMode, 0) << GetCommandLineA();
}

} // namespace
