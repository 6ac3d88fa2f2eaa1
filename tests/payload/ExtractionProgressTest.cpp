// The extraction driven through a recording double of its progress interface: what it shows,
// how its percent moves and where it stops, with no dialog and no DestinationFolder behind it.
#include "payload/PackageExtraction.h"

#include "core/SetupState.h"
#include "payload/EntryExpansion.h"
#include "payload/InstallLog.h"
#include "support/PackageBuilder.h"
#include "support/ScopedTempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Every look at it is a second later: each name offered is due at once, so that what is shown
// does not depend on how fast this machine writes.
DWORD FastClockNow = 0;
DWORD WINAPI FastClock() { return FastClockNow += 1000; }

// What the extraction reported, and when it is told to stop.
struct RecordedProgress {
    std::vector<std::string> Statuses;
    std::vector<unsigned> Percents;
    int Questions = 0;
    int StopAtQuestion = 0; // 0: never
};

void RecordStatus(void* context, const char* text)
{
    static_cast<RecordedProgress*>(context)->Statuses.push_back(text);
}

void RecordPercent(void* context, unsigned percent)
{
    static_cast<RecordedProgress*>(context)->Percents.push_back(percent);
}

bool AnswerStop(void* context)
{
    RecordedProgress* recorded = static_cast<RecordedProgress*>(context);
    return ++recorded->Questions == recorded->StopAtQuestion;
}

TEST(ExtractionProgress, ReportsEachEntryAndARisingPercentAndStopsWhereItIsTold)
{
    const struct {
        const char* Name;
        int StopAtQuestion;
        ExtractionEnd End;
        size_t Installed; // entries installed, in order
    } rows[] = {
        {"runs to its end", 0, ExtractionEnd::Completed, 4},
        {"stopped before the first entry", 1, ExtractionEnd::Stopped, 0},
        {"stopped before the third entry", 3, ExtractionEnd::Stopped, 2},
        {"stopped before the last entry", 4, ExtractionEnd::Stopped, 3},
    };
    const char* const targets[] = {"tpz2.exe", "Docs\\Guide.txt", "Readme.txt", "Large.dat"};
    const char* const names[] = {"Program", "Guide", "Read me", "Large data"};
    // Each entry a good share of the package, so that each one moves the percent.
    const std::string contents[] = {std::string(3000, 'p'), std::string(2000, 'g'), std::string(2000, 'r'),
                                    std::string(5000, 'l')};
    std::string package = PackageEntryBytes(targets[0], names[0], SzddLiterals(contents[0]));
    for (size_t i = 1; i < 4; ++i)
        package += PackageEntryBytes(targets[i], names[i], contents[i]);

    const std::vector<std::string> temporaries = ExtractionTemporaries();
    DWORD(WINAPI * savedClock)() = PaceClock;
    PaceClock = FastClock;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        ScopedTempDir dir;
        const std::string destination = dir.Join("Zorvane");
        // Where a reader of the run's state would install: nothing may arrive there.
        const std::string elsewhere = dir.Join("Elsewhere");
        ASSERT_TRUE(CreateDirectoryA(destination.c_str(), nullptr));
        lstrcpynA(DestinationFolder, elsewhere.c_str(), MAX_PATH);
        WriteTestFile(dir.Join("Setup.z"), package);

        RecordedProgress recorded;
        recorded.StopAtQuestion = row.StopAtQuestion;
        const ExtractionProgress progress = {&recorded, RecordStatus, RecordPercent, AnswerStop};
        ExtractionEnd end;
        {
            FileReader reader(dir.Join("Setup.z").c_str());
            FileWriter log(dir.Join("Setup.log").c_str());
            end = ExtractPackageInto(destination.c_str(), reader, log, progress);
        }
        EXPECT_EQ(end, row.End);
        EXPECT_EQ(recorded.Questions, row.StopAtQuestion != 0 ? row.StopAtQuestion : 4);

        std::vector<std::string> expectedStatuses(names, names + row.Installed);
        EXPECT_EQ(recorded.Statuses, expectedStatuses);
        ASSERT_EQ(recorded.Percents.size(), row.Installed);
        for (size_t i = 1; i < recorded.Percents.size(); ++i)
            EXPECT_LT(recorded.Percents[i - 1], recorded.Percents[i]) << i;
        if (row.End == ExtractionEnd::Completed) {
            EXPECT_EQ(recorded.Percents.back(), 100u);
        } else if (!recorded.Percents.empty()) {
            EXPECT_LT(recorded.Percents.back(), 100u);
        }

        std::string expectedLog;
        for (size_t i = 0; i < 4; ++i) {
            const std::string target = destination + "\\" + targets[i];
            if (i < row.Installed) {
                EXPECT_TRUE(ReadTestFile(target) == contents[i]) << targets[i];
                if (i == 1)
                    expectedLog += "#" + destination + "\\Docs\\\r\n";
                expectedLog += "+" + target + "\r\n";
            } else {
                EXPECT_FALSE(FileExists(target)) << targets[i];
            }
        }
        EXPECT_EQ(ReadTestFile(dir.Join("Setup.log")), expectedLog);
        EXPECT_FALSE(FolderExists(elsewhere));
        EXPECT_EQ(ExtractionTemporaries(), temporaries) << "temporaries left";
    }
    PaceClock = savedClock;
    DestinationFolder[0] = '\0';
}

// A caller that wants no reports hands no functions: the extraction runs all the same.
TEST(ExtractionProgress, NoFunctionsGivenInstallsEverything)
{
    ScopedTempDir dir;
    const std::string destination = dir.Join("Zorvane");
    ASSERT_TRUE(CreateDirectoryA(destination.c_str(), nullptr));
    WriteTestFile(dir.Join("Setup.z"), PackageEntryBytes("Readme.txt", "Read me", "read me") +
                                           PackageEntryBytes("Other.txt", "Other", SzddLiterals("other")));
    FileReader reader(dir.Join("Setup.z").c_str());
    FileWriter log(dir.Join("Setup.log").c_str());
    EXPECT_EQ(ExtractPackageInto(destination.c_str(), reader, log, {}), ExtractionEnd::Completed);
    EXPECT_EQ(ReadTestFile(destination + "\\Readme.txt"), "read me");
    EXPECT_EQ(ReadTestFile(destination + "\\Other.txt"), "other");
}

} // namespace
