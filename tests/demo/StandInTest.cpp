#include "StandInWindow.h"
#include "core/PathUtilities.h"
#include "payload/EntryPlacement.h"
#include "support/ChildProcess.h"
#include "support/ScopedTempDir.h"
#include "uidriver/UiDriver.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char ProductMutex[] = "ProjectZorvaneMutex";
const char ProductClass[] = "ProjectZorvane_Class";
const char ProductTitle[] = "TALVIQ Project Zorvane 2 PE Demo (stand-in)";
const DWORD ProcessTimeoutMs = 15000;
// The first window program in a new prefix starts Wine's desktop first: slow, but said by the
// process itself once it waits for input (its window made), so the wait ends at that moment.
const DWORD FirstWindowLimitMs = 120000;

// A stand-in as the build made it, in the demo folder of the build tree.
std::string BuiltStandIn(const char* name)
{
    char path[MAX_PATH];
    std::string relative = std::string("..\\demo\\") + name;
    EXPECT_TRUE(PathBesideProgram(path, relative.c_str(), true));
    return path;
}

// A copy of the stand-in in the test's folder, whose path holds blanks as an installed one does.
std::string InstalledStandIn(const ScopedTempDir& dir, const char* name)
{
    std::string folder = dir.Join("Project Zorvane PE");
    CreateDirectoryA(folder.c_str(), nullptr);
    std::string copy = folder + "\\" + name;
    EXPECT_TRUE(CopyFileA(BuiltStandIn(name).c_str(), copy.c_str(), FALSE)) << BuiltStandIn(name);
    return copy;
}

PROCESS_INFORMATION Start(const std::string& commandLine) { return StartChild(commandLine); }

// Waits for the process to end and releases it; its exit code (a process that did not end in time
// is terminated, as a test failure).
int Finish(PROCESS_INFORMATION process) { return static_cast<int>(FinishChild(process, ProcessTimeoutMs)); }

int RunToEnd(const std::string& commandLine) { return Finish(Start(commandLine)); }

TEST(Tpz2StandIn, NotesEachRequestOfTheSetupProgramInItsLogAndExits)
{
    ScopedTempDir dir;
    std::string program = InstalledStandIn(dir, "tpz2.exe");
    std::string quoted = "\"" + program + "\"";
    EXPECT_EQ(RunToEnd(quoted + " /RegServer"), 0);
    EXPECT_EQ(RunToEnd(quoted + " /UnRegServer"), 0);
    EXPECT_EQ(RunToEnd(quoted + " /c C:\\Program Files\\TALVIQ\\Project Zorvane"), 0);
    EXPECT_EQ(RunToEnd(quoted + " /unknown"), 2);
    EXPECT_EQ(RunToEnd(quoted + " /c "), 2);
    EXPECT_EQ(ReadTestFile(dir.Join("Project Zorvane PE\\tpz2.log")),
              "/RegServer\r\n/UnRegServer\r\n/c C:\\Program Files\\TALVIQ\\Project Zorvane\r\n");
    EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, ProductMutex), nullptr)
        << "a switch run must not look like the product";
}

TEST(Tpz2StandIn, WithoutArgumentsHoldsTheMutexAndShowsItsWindowUntilClosed)
{
    ScopedTempDir dir;
    std::string program = InstalledStandIn(dir, "tpz2.exe");
    PROCESS_INFORMATION process = Start("\"" + program + "\"");
    EXPECT_EQ(WaitForInputIdle(process.hProcess, FirstWindowLimitMs), 0u);
    HWND window = WaitForWindow(ProductClass, ProductTitle);
    ASSERT_NE(window, nullptr);
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, ProductMutex);
    EXPECT_NE(mutex, nullptr);
    HWND text = GetDlgItem(window, StandInTextId);
    EXPECT_NE(WindowText(text).find("stands in for TALVIQ Project Zorvane 2 PE Demo"), std::string::npos)
        << WindowText(text);

    // A second start leaves the one instance running and ends at once.
    EXPECT_EQ(RunToEnd("\"" + program + "\""), 0);
    EXPECT_TRUE(IsWindow(window));

    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(Finish(process), 0);
    if (mutex != nullptr)
        CloseHandle(mutex);
    EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, ProductMutex), nullptr);
    EXPECT_FALSE(FileExists(dir.Join("Project Zorvane PE\\tpz2.log")));
}

TEST(WendlorStandIn, ShowsWhatItStandsForUntilClosed)
{
    ScopedTempDir dir;
    PROCESS_INFORMATION process = Start("\"" + InstalledStandIn(dir, "Wendlor.exe") + "\"");
    EXPECT_EQ(WaitForInputIdle(process.hProcess, FirstWindowLimitMs), 0u);
    HWND window = WaitForWindow(nullptr, "Wendlor (stand-in)");
    ASSERT_NE(window, nullptr);
    EXPECT_NE(WindowText(GetDlgItem(window, StandInTextId)).find("stands in for Wendlor"), std::string::npos);
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(Finish(process), 0);
}

TEST(StandIns, CarryTheProductVersion)
{
    for (const char* name : {"tpz2.exe", "Wendlor.exe"}) {
        DWORD high = 0;
        DWORD low = 0;
        EXPECT_TRUE(ReadFileVersion(BuiltStandIn(name).c_str(), &high, &low)) << name;
        EXPECT_EQ(high, 0x00020005u) << name;
        EXPECT_EQ(low, 0x00CF0000u) << name;
    }
}

} // namespace
