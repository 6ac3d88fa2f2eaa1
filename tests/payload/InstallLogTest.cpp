#include "payload/InstallLog.h"

#include "core/ZorvaneException.h"
#include "support/ScopedTempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

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

namespace {

// Replaces each %I (installation folder), %M (the user's Start-menu folder), %C (all users') and
// %O (a folder outside them all) in text.
std::string Expand(std::string text, const std::string& inst, const std::string& menu,
                   const std::string& common, const std::string& outside)
{
    const std::pair<const char*, const std::string*> marks[] = {
        {"%I", &inst}, {"%M", &menu}, {"%C", &common}, {"%O", &outside}};
    for (const auto& mark : marks)
        for (size_t at; (at = text.find(mark.first)) != std::string::npos;)
            text.replace(at, 2, *mark.second);
    return text;
}

} // namespace

// A run over an earlier log: the destination's record, its own extraction records, the earlier
// installed records, its shortcuts, the earlier shortcuts; each path once, as the system reads it.
TEST(CarryEarlierRecords, CarriesWhatStillExistsInsideTheInstallationOnceAndInTheLogsOrder)
{
    const std::string runOwn = "#%I\r\n+%I\\Kept.exe\r\n";
    const std::string runShortcuts = "#%M\r\n+%M\\New.lnk\r\n";
    const struct {
        const char* Situation;
        std::string Earlier; // "" with Exists false: no earlier log
        bool Exists;
        std::string CarriedInstalled;
        std::string CarriedShortcuts;
    } cases[] = {
        {"no earlier log", "", false, "", ""},
        {"what the run writes itself", "#%I\r\n+%I\\Kept.exe\r\n#%M\r\n+%M\\New.lnk\r\n", true, "", ""},
        {"letter case and doubled backslashes", "#%I\\\r\n+%I\\\\KEPT.exe\r\n#%M\\\\\r\n", true, "", ""},
        {"in the earlier log's order, shortcuts last",
         "+%C\\All.lnk\r\n#%I\\Data\\\r\n+%M\\Old.lnk\r\n+%I\\Data\\Old.txt\r\n#%C\r\n", true,
         "#%I\\Data\\\r\n+%I\\Data\\Old.txt\r\n", "+%C\\All.lnk\r\n+%M\\Old.lnk\r\n#%C\r\n"},
        {"duplicates", "+%I\\Data\\Old.txt\r\n+%I\\data\\\\old.TXT\r\n+%I\\Data\\Old.txt\r\n", true,
         "+%I\\Data\\Old.txt\r\n", ""},
        {"records of what is gone, or is of the other kind",
         "+%I\\Gone.txt\r\n#%I\\Gone\\\r\n+%I\\Data\r\n#%I\\Data\\Old.txt\r\n+%M\\Gone.lnk\r\n", true, "",
         ""},
        {"records outside the installation",
         "+%O\\x.txt\r\n#%O\r\n+%I\\..\\Outside\\x.txt\r\n+Kept.exe\r\n+%I\\Data\\.\\Old.txt\r\n", true, "",
         ""},
        {"lines that are no records, and line feeds that count for nothing",
         "x%I\\Data\\Old.txt\r\n\r\n+%I\\" + std::string(460, 'p') + "\r\n+%I\\Da\nta\\Old.txt\r\n#%I\\Data",
         true, "+%I\\Data\\Old.txt\r\n#%I\\Data\r\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Situation);
        ScopedTempDir dir;
        const std::string inst = dir.Join("Project Zorvane PE");
        const std::string menu = dir.Join("Menu");
        const std::string common = dir.Join("Common");
        const std::string outside = dir.Join("Outside");
        for (const std::string& folder : {inst, inst + "\\Data", menu, common, outside})
            ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
        for (const std::string& file :
             {inst + "\\Kept.exe", inst + "\\Data\\Old.txt", inst + "\\Mine.txt", menu + "\\Old.lnk",
              menu + "\\New.lnk", common + "\\All.lnk", outside + "\\x.txt"})
            WriteTestFile(file, "x");
        auto expand = [&](const std::string& text) { return Expand(text, inst, menu, common, outside); };
        const std::string logPath = inst + "\\" + InstallLogName;
        if (c.Exists)
            WriteTestFile(logPath, expand(c.Earlier));
        AllowedFolders allowed = {};
        lstrcpynA(allowed.Installation, inst.c_str(), MAX_PATH);
        lstrcpynA(allowed.StartMenu, menu.c_str(), MAX_PATH);
        lstrcpynA(allowed.CommonStartMenu, common.c_str(), MAX_PATH);

        BeginRunLog(logPath.c_str());
        int installed = 0, shortcuts = 0;
        {
            FileWriter log(logPath.c_str());
            WriteLogRecord(log, FolderRecord, inst.c_str());
            WriteLogRecord(log, FileRecord, (inst + "\\Kept.exe").c_str());
            installed = CarryEarlierRecords(log, allowed, CarriedPart::Installed);
            WriteLogRecord(log, FolderRecord, menu.c_str());
            WriteLogRecord(log, FileRecord, (menu + "\\New.lnk").c_str());
            shortcuts = CarryEarlierRecords(log, allowed, CarriedPart::Shortcuts);
        }
        EXPECT_EQ(ReadTestFile(logPath),
                  expand(runOwn + c.CarriedInstalled + runShortcuts + c.CarriedShortcuts));
        EXPECT_EQ(installed,
                  static_cast<int>(std::count(c.CarriedInstalled.begin(), c.CarriedInstalled.end(), '\n')));
        EXPECT_EQ(shortcuts,
                  static_cast<int>(std::count(c.CarriedShortcuts.begin(), c.CarriedShortcuts.end(), '\n')));
        // What the run logged, written or carried, is known by its file, however spelt.
        EXPECT_TRUE(NamesLoggedFile((dir.Join("PROJECT ZORVANE PE") + "\\KEPT.EXE").c_str()));
        EXPECT_EQ(NamesLoggedFile((inst + "\\Data\\Old.txt").c_str()),
                  c.CarriedInstalled.find("Old.txt") != std::string::npos);
        EXPECT_FALSE(NamesLoggedFile((inst + "\\Mine.txt").c_str())) << "the user's file stays unlogged";
        EndRunLog();
    }
}

// An earlier log as long as a large package's: every record the run wrote, spelt otherwise, is
// still found after the run's records outgrew the first rooms kept for them.
TEST(CarryEarlierRecords, FindsEachOfThousandsOfWrittenRecordsHoweverSpelt)
{
    ScopedTempDir dir;
    const std::string inst = dir.Join("Project Zorvane PE");
    ASSERT_TRUE(CreateDirectoryA(inst.c_str(), nullptr));
    WriteTestFile(inst + "\\Left.txt", "x");
    const int count = 3000;
    std::string earlier;
    for (int i = 0; i < count; ++i)
        earlier += "+" + inst + "\\\\T" + std::to_string(i % 20) + "\\FILE" + std::to_string(i) + ".H\r\n";
    earlier += "+" + inst + "\\Left.txt\r\n";
    const std::string logPath = inst + "\\" + InstallLogName;
    WriteTestFile(logPath, earlier);
    AllowedFolders allowed = {};
    lstrcpynA(allowed.Installation, inst.c_str(), MAX_PATH);

    BeginRunLog(logPath.c_str());
    int carried = -1;
    {
        FileWriter log(logPath.c_str());
        for (int i = 0; i < count; ++i)
            WriteLogRecord(
                log, FileRecord,
                (inst + "\\t" + std::to_string(i % 20) + "\\File" + std::to_string(i) + ".h").c_str());
        carried = CarryEarlierRecords(log, allowed, CarriedPart::Installed);
    }
    EndRunLog();
    EXPECT_EQ(carried, 1) << "only the file the run did not write";
    const std::string log = ReadTestFile(logPath);
    EXPECT_EQ(log.substr(log.size() - (inst.size() + 12)), "+" + inst + "\\Left.txt\r\n");
}
