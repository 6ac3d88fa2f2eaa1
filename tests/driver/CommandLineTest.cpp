#include "driver/CommandLine.h"

#include "driver/RunOptions.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>

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

// One line and how it reads: mode, windows, answers, folder, log and the start of the refusal.
TEST(ReadSetupOptions, EachLineReadsAsTheTableSays)
{
    // 245 characters: the longest folder the install takes (room for a temporary name beside a file)
    const std::string longFolder = "C:\\" + std::string(MAX_PATH - 18, 'f');
    const struct {
        std::string CommandLine;
        int Mode;
        UiLevel Ui;
        bool Help, RunAtStartup, Launch;
        const char* Folder;
        const char* Log;
        const char* Problem; // the start of the refusal; "" for none
    } cases[] = {
        // The interactive lines, read as they always were: nothing beyond the mode and /?.
        {"\"C:\\Media\\Setup.exe\"", 0, UiLevel::Full, false, false, false, "", "", ""},
        {"\"C:\\Program Files\\TALVIQ\\Project Zorvane PE\\Setup.exe\" /r", 1, UiLevel::Full, false, false,
         false, "", "", ""},
        {"Setup.exe /dir=Apps /runatstartup /bogus /log=x.log", 0, UiLevel::Full, false, false, false, "", "",
         ""},
        {"Setup.exe /?", 0, UiLevel::Full, true, false, false, "", "", ""},
        {"Setup.exe /r -?", 1, UiLevel::Full, true, false, false, "", "", ""},
        {"Setup.exe /dir=\"C:\\unterminated", 0, UiLevel::Full, false, false, false, "", "", ""},
        // Unattended lines.
        {"Setup.exe /quiet /dir=\"C:\\Apps\\Zorvane\" /log=C:\\Logs\\zorvane.log", 0, UiLevel::Quiet, false,
         false, false, "C:\\Apps\\Zorvane", "C:\\Logs\\zorvane.log", ""},
        {"\"C:\\Apps\\Zorvane\\Setup.exe\" /r /quiet /log=C:\\Logs\\remove.log", 1, UiLevel::Quiet, false,
         false, false, "", "C:\\Logs\\remove.log", ""},
        {"Setup.exe /PASSIVE -Dir=C:\\Apps\\ /RunAtStartup -LAUNCH", 0, UiLevel::Passive, false, true, true,
         "C:\\Apps", "", ""},
        {"Setup.exe\t/passive\t/quiet", 0, UiLevel::Quiet, false, false, false, "", "", ""},
        {"Setup.exe /quiet -passive", 0, UiLevel::Quiet, false, false, false, "", "", ""},
        {"Setup.exe /quiet /?", 0, UiLevel::Quiet, true, false, false, "", "", ""},
        // The spellings deployment tools use, in any case, with either switch character.
        {"Setup.exe /qn", 0, UiLevel::Quiet, false, false, false, "", "", ""},
        {"Setup.exe -Q", 0, UiLevel::Quiet, false, false, false, "", "", ""},
        {"Setup.exe /S /norestart", 0, UiLevel::Quiet, false, false, false, "", "", ""},
        {"Setup.exe /Silent", 0, UiLevel::Quiet, false, false, false, "", "", ""},
        {"Setup.exe -VERYSILENT /allusers", 0, UiLevel::Quiet, false, false, false, "", "", ""},
        {"Setup.exe /r /qn", 1, UiLevel::Quiet, false, false, false, "", "", ""},
        {"Setup.exe /qb", 0, UiLevel::Passive, false, false, false, "", "", ""},
        {"Setup.exe /r -QB /norestart", 1, UiLevel::Passive, false, false, false, "", "", ""},
        {"Setup.exe /qb /s", 0, UiLevel::Quiet, false, false, false, "", "", ""},
        {"Setup.exe /qnx", 0, UiLevel::Full, false, false, false, "", "", ""}, // no spelling: interactive
        {"Setup.exe /r /quiet /allusers", 1, UiLevel::Quiet, false, false, false, "", "",
         "/allusers applies to an install only"},
        {"Setup.exe /quiet /norestart=yes", 0, UiLevel::Quiet, false, false, false, "", "",
         "unknown argument: /norestart=yes"},
        {"Setup.exe /quiet \"/dir=C:\\Program Files\\Zorvane\" \"/log=C:\\My Logs\\z.log\"", 0,
         UiLevel::Quiet, false, false, false, "C:\\Program Files\\Zorvane", "C:\\My Logs\\z.log", ""},
        {"Setup.exe /remove /quiet", 1, UiLevel::Quiet, false, false, false, "", "", ""},
        {"Setup.exe /quiet /dir=" + longFolder, 0, UiLevel::Quiet, false, false, false, longFolder.c_str(),
         "", ""},
        // The mode's own cases, with a switch beside them: the first argument still decides.
        {"\"C:\\Setup Files\\Setup.exe\"r /quiet", 1, UiLevel::Quiet, false, false, false, "", "", ""},
        {"C:\\My rules\\Setup.exe /quiet", 1, UiLevel::Quiet, false, false, false, "", "", ""},
        {"Setup.exe\tR\t/passive", 1, UiLevel::Passive, false, false, false, "", "", ""},
        {"Setup.exe --r /quiet", 0, UiLevel::Quiet, false, false, false, "", "", "unknown argument: --r"},
        {"Setup.exe / r /quiet", 0, UiLevel::Quiet, false, false, false, "", "", "unknown argument: /"},
        {"Setup.exe - /quiet", 0, UiLevel::Quiet, false, false, false, "", "", "unknown argument: -"},
        // Refused: the run does nothing but log why.
        {"Setup.exe /quiet /bogus", 0, UiLevel::Quiet, false, false, false, "", "",
         "unknown argument: /bogus"},
        {"Setup.exe x /quiet", 0, UiLevel::Quiet, false, false, false, "", "", "unknown argument: x"},
        {"Setup.exe /quiet /r", 0, UiLevel::Quiet, false, false, false, "", "",
         "unknown argument: /r (an uninstall's /r comes first)"},
        {"Setup.exe /quiet /dir=", 0, UiLevel::Quiet, false, false, false, "", "", "/dir= needs a value"},
        {"Setup.exe /quiet /dir", 0, UiLevel::Quiet, false, false, false, "", "", "/dir needs a value"},
        {"Setup.exe /quiet /log=", 0, UiLevel::Quiet, false, false, false, "", "", "/log= needs a value"},
        {"Setup.exe /quiet /dir=Apps\\Zorvane", 0, UiLevel::Quiet, false, false, false, "", "",
         "/dir must name a folder below the root of a local drive: Apps\\Zorvane"},
        {"Setup.exe /quiet /dir=C:\\", 0, UiLevel::Quiet, false, false, false, "", "", "/dir must name"},
        {"Setup.exe /quiet /dir=\\\\server\\share\\Zorvane", 0, UiLevel::Quiet, false, false, false, "", "",
         "/dir must name"},
        {"Setup.exe /quiet /dir=C:\\Apps\\..\\Windows", 0, UiLevel::Quiet, false, false, false, "", "",
         "/dir must name"},
        {"Setup.exe /quiet /dir=C:\\Ap?s", 0, UiLevel::Quiet, false, false, false, "", "", "/dir must name"},
        {"Setup.exe /quiet /dir=C:\\Apps/Zorvane", 0, UiLevel::Quiet, false, false, false, "", "",
         "/dir must name"},
        {"Setup.exe /quiet /dir=" + longFolder + "g", 0, UiLevel::Quiet, false, false, false, "", "",
         "/dir is longer than 245 characters"},
        {"Setup.exe /quiet /dir=\"C:\\Program Files\\Zorvane", 0, UiLevel::Quiet, false, false, false, "", "",
         "a quotation mark is not closed: /dir=C:\\Program Files\\Zorvane"},
        {"Setup.exe /r /quiet /dir=C:\\Apps", 1, UiLevel::Quiet, false, false, false, "", "",
         "/dir=C:\\Apps applies to an install only"},
        // The first argument chooses uninstall, as it always has: an install's switch cannot lead.
        {"Setup.exe /runatstartup /quiet", 1, UiLevel::Quiet, false, false, false, "", "",
         "/runatstartup applies to an install only"},
        {"Setup.exe /quiet /launch=yes", 0, UiLevel::Quiet, false, false, false, "", "",
         "unknown argument: /launch=yes"},
        {"Setup.exe /quiet /bogus /alsobogus", 0, UiLevel::Quiet, false, false, false, "", "",
         "unknown argument: /bogus"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.CommandLine);
        int mode = UninstallModeFromCommandLine(c.CommandLine.c_str());
        EXPECT_EQ(mode, c.Mode);
        SetupOptions options;
        memset(&options, 'Z', sizeof options);
        ReadSetupOptions(c.CommandLine.c_str(), mode, &options);
        EXPECT_EQ(options.Ui, c.Ui);
        EXPECT_EQ(options.ShowHelp, c.Help);
        EXPECT_EQ(options.RunAtStartup, c.RunAtStartup);
        EXPECT_EQ(options.Launch, c.Launch);
        EXPECT_EQ(options.NoRestart,
                  c.Problem[0] == '\0' && c.CommandLine.find("/norestart") != std::string::npos);
        EXPECT_EQ(options.AllUsers,
                  c.Problem[0] == '\0' && c.CommandLine.find("/allusers") != std::string::npos);
        EXPECT_STREQ(options.Folder, c.Problem[0] == '\0' ? c.Folder : "");
        EXPECT_STREQ(options.LogPath, c.Log);
        EXPECT_EQ(std::string(options.Problem).rfind(c.Problem, 0), 0u) << options.Problem;
        EXPECT_EQ(options.Problem[0] == '\0', c.Problem[0] == '\0') << options.Problem;
    }
}

TEST(ReadSetupOptions, HostileLinesStayWithinTheBuffers)
{
    const std::string huge(10000, 'q');
    const std::string lines[] = {
        "Setup.exe /quiet /" + huge,
        "Setup.exe /quiet /dir=C:\\" + huge,
        "Setup.exe /quiet /log=C:\\" + huge,
        "Setup.exe /quiet \"" + huge,
        "Setup.exe /quiet " + std::string(5000, '"'),
        "\"" + huge,
        huge + " /quiet /r",
    };
    for (const std::string& line : lines) {
        struct {
            SetupOptions Options;
            char After[64];
        } guarded;
        memset(&guarded, 'Z', sizeof guarded);
        ReadSetupOptions(line.c_str(), UninstallModeFromCommandLine(line.c_str()), &guarded.Options);
        EXPECT_EQ(std::string(guarded.After, sizeof guarded.After), std::string(sizeof guarded.After, 'Z'));
        EXPECT_LT(strnlen(guarded.Options.Problem, sizeof guarded.Options.Problem),
                  sizeof guarded.Options.Problem);
        EXPECT_EQ(guarded.Options.Folder[0], '\0');
        EXPECT_EQ(guarded.Options.LogPath[0], '\0');
    }
}

} // namespace
