#include "payload/InstallLog.h"

#include "core/ZorvaneException.h"
#include "support/ScopedTempDir.h"

#include <gtest/gtest.h>

TEST(WriteLogRecord, WritesKindPathAndCrLfWithNothingBetween)
{
    ScopedTempDir dir;
    std::string path = dir.Join(InstallLogName);
    {
        FileWriter log(path.c_str());
        WriteLogRecord(log, FolderRecord, "C:\\Program Files\\TALVIQ\\Project Zorvane PE");
        WriteLogRecord(log, FolderRecord, "C:\\Program Files\\TALVIQ\\Project Zorvane PE\\Data\\");
        WriteLogRecord(log, FileRecord, "C:\\Program Files\\TALVIQ\\Project Zorvane PE\\Data\\sample.tpz");
    }
    EXPECT_EQ(ReadTestFile(path), "#C:\\Program Files\\TALVIQ\\Project Zorvane PE\r\n"
                                  "#C:\\Program Files\\TALVIQ\\Project Zorvane PE\\Data\\\r\n"
                                  "+C:\\Program Files\\TALVIQ\\Project Zorvane PE\\Data\\sample.tpz\r\n");
}

TEST(WriteLogRecord, LongestPathMakesA262ByteLineThatReadsBack)
{
    ScopedTempDir dir;
    std::string path = dir.Join(InstallLogName);
    std::string longest(259, 'p');
    {
        FileWriter log(path.c_str());
        WriteLogRecord(log, FileRecord, longest.c_str());
        WriteLogRecord(log, FolderRecord, "");
    }
    EXPECT_EQ(ReadTestFile(path), "+" + longest + "\r\n#\r\n");

    FileReader reader(path.c_str());
    char line[460];
    reader.ReadLine(line, sizeof line);
    EXPECT_EQ(std::string(line), "+" + longest);
    reader.ReadLine(line, sizeof line);
    EXPECT_STREQ(line, "#");
    EXPECT_TRUE(reader.AtEnd());
}
