#include "core/DiagnosticLog.h"

#include "support/ScopedTempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The log's lines without their time stamps ("YYYY-MM-DD HH:MM:SS  "), each checked for one.
std::vector<std::string> LoggedLines(const std::string& path)
{
    std::string content = ReadTestFile(path);
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < content.size()) {
        size_t end = content.find("\r\n", at);
        if (end == std::string::npos) {
            lines.push_back("<no line end>" + content.substr(at));
            break;
        }
        std::string line = content.substr(at, end - at);
        bool stamped = line.size() >= 21 && line[4] == '-' && line[7] == '-' && line[10] == ' ' &&
                       line[13] == ':' && line[16] == ':' && line.compare(19, 2, "  ") == 0;
        lines.push_back(stamped ? line.substr(21) : "<no time>" + line);
        at = end + 2;
    }
    return lines;
}

class DiagnosticLogTest : public testing::Test {
protected:
    void TearDown() override { CloseDiagnosticLog(); }
    ScopedTempDir Dir;
};

TEST_F(DiagnosticLogTest, LinesCarryTimeStepAndOutcomeAndContinueAtEachCarriageReturn)
{
    const std::string path = Dir.Join("run.log");
    ASSERT_TRUE(OpenDiagnosticLog(path.c_str()));
    WriteLogLine("guard", "the product is not running");
    // A message box text: its line break continues the line; the system text's own CR LF is dropped.
    WriteLogLine("Setup, error", "File not found: C:\\m\\Setup.z\r\x95 The file is missing.\r\n");
    WriteLogLine("exit code", "1619");
    CloseDiagnosticLog();
    EXPECT_EQ(LoggedLines(path),
              (std::vector<std::string>{"guard: the product is not running",
                                        "Setup, error: File not found: C:\\m\\Setup.z",
                                        "    \xE2\x80\xA2 The file is missing.", "exit code: 1619"}))
        << "ANSI code page " << GetACP();
}

TEST_F(DiagnosticLogTest, ASecondRunAppendsAndAMissingFolderIsMade)
{
    const std::string path = Dir.Join("Logs\\Deploy\\zorvane.log");
    ASSERT_TRUE(OpenDiagnosticLog(path.c_str()));
    WriteLogLine("first", "run");
    ASSERT_TRUE(OpenDiagnosticLog(path.c_str())) << "reopening closes the first";
    WriteLogLine("second", "run");
    CloseDiagnosticLog();
    EXPECT_EQ(LoggedLines(path), (std::vector<std::string>{"first: run", "second: run"}));

    // A file where the folder should be cannot hold a log.
    WriteTestFile(Dir.Join("Blocked"), "a file");
    EXPECT_FALSE(OpenDiagnosticLog(Dir.Join("Blocked\\x.log").c_str()));
    WriteLogLine("nowhere", "nothing is written and nothing fails");
}

TEST_F(DiagnosticLogTest, OverLongTextsAreCutAtAWholeCharacterWithinTheLine)
{
    const std::string path = Dir.Join("long.log");
    ASSERT_TRUE(OpenDiagnosticLog(path.c_str()));
    // Every byte becomes three UTF-8 bytes, the worst case for the line buffer.
    WriteLogLine("long", std::string(10000, '\x95').c_str());
    WriteLogLine("after", "it");
    CloseDiagnosticLog();
    std::vector<std::string> lines = LoggedLines(path);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("long: \xE2\x80\xA2", 0), 0u);
    EXPECT_LT(lines[0].size(), 3u * 2048);
    EXPECT_EQ((lines[0].size() - 6) % 3, 0u) << "a character cut in half";
    EXPECT_EQ(lines[1], "after: it");
}

TEST(AnsiToUtf8, ConvertsThroughTheAnsiCodePageAndStopsAtTheBuffer)
{
    char out[8];
    memset(out, 'Z', sizeof out);
    EXPECT_EQ(AnsiToUtf8("\xA9 T", out, 6), 4) << "the copyright sign takes two bytes";
    EXPECT_STREQ(out, "\xC2\xA9 T");
    memset(out, 'Z', sizeof out);
    EXPECT_EQ(AnsiToUtf8("ab\x95", out, 5), 2) << "three bytes do not fit behind ab";
    EXPECT_STREQ(out, "ab");
    EXPECT_EQ(out[5], 'Z') << "past the buffer";
}

} // namespace
