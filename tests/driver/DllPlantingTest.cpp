// Setup.exe runs elevated from folders anyone can write to: a DLL planted there under the name
// of a system DLL must never run. Wine is told to prefer such DLLs from the program's folder, as
// Windows does for every DLL that is not a "known DLL".
#include "core/PathUtilities.h"
#include "support/ChildProcess.h"
#include "support/ScopedTempDir.h"
#include "uidriver/UiDriver.h"

#include <windows.h>
#include <prsht.h>

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

namespace {

// The DLLs the program imports or loads, and those the shell, the common controls and COM load
// for a folder browser, a property sheet and shortcuts; known DLLs are left out, as Windows takes
// them from the system folder whatever lies beside a program. version.dll is left out too: Wine's
// own user32 imports it (Windows' does not), so under Wine any window program would load it. So
// is msimg32: Wine's own built-in DLLs, told to prefer native ones, now and then load it from the
// program's folder through their imports while the wizard paints; Setup.exe neither imports nor
// loads it. The test's entry in tests/CMakeLists.txt lists the same names.
const char* const PlantedNames[] = {
    "lz32",          "comctl32", "uxtheme", "propsys",  "dwmapi",  "cryptbase", "profapi",
    "windowscodecs", "riched20", "apphelp", "winmm",    "userenv", "mpr",       "netapi32",
    "secur32",       "ntmarta",  "samcli",  "linkinfo", "ntshrui", "srvcli",    "cscapi",
    "explorerframe", "shdocvw",  "ieframe", "browseui",
};

std::string Beside(const char* name)
{
    char path[MAX_PATH];
    EXPECT_TRUE(PathBesideProgram(path, name, true));
    return path;
}

// Programs started here (StartChild) inherit WINEDLLOVERRIDES preferring native DLLs of the
// planted names (set by the build's test entry): Wine passes it on to the programs it starts.

// Ends a started program when the test leaves early, so that it never outlives the test.
struct Running {
    PROCESS_INFORMATION& Process;
    ~Running()
    {
        if (Process.hProcess != nullptr && WaitForSingleObject(Process.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(Process.hProcess, 1);
    }
};

void Finish(PROCESS_INFORMATION& process)
{
    if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "still running; terminated";
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    process = {};
}

} // namespace

TEST(DllPlanting, SetupLoadsNoDllPlantedBesideItWhileAPlainProgramDoes)
{
    char overrides[4096] = "";
    GetEnvironmentVariableA("WINEDLLOVERRIDES", overrides, sizeof overrides);
    for (const char* name : PlantedNames)
        ASSERT_NE(strstr(overrides, name), nullptr)
            << "WINEDLLOVERRIDES must prefer native " << name << ": " << overrides;
    ScopedTempDir dir;
    for (const char* name : PlantedNames)
        ASSERT_TRUE(
            CopyFileA(Beside("PlantedDll.dll").c_str(), dir.Join(std::string(name) + ".dll").c_str(), FALSE));

    // The control: the planted lz32.dll runs in a program that imports it plainly.
    ASSERT_TRUE(CopyFileA(Beside("PlantControl.exe").c_str(), dir.Join("PlantControl.exe").c_str(), FALSE));
    PROCESS_INFORMATION control = StartChild("\"" + dir.Join("PlantControl.exe") + "\"");
    Finish(control);
    ASSERT_NE(FilesMatching(dir.Join("*.loaded")), std::vector<std::string>{})
        << "the planted DLL did not run in the control: the test cannot fail";
    for (const std::string& marker : FilesMatching(dir.Join("*.loaded")))
        DeleteFileA(dir.Join(marker).c_str());

    // Setup.exe through its wizard to the destination page, and cancelled.
    ASSERT_TRUE(CopyFileA(BuildTreePath(SETUP_EXE_UNIX_PATH).c_str(), dir.Join("Setup.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(BuildTreePath(DEMO_PACKAGE_UNIX_PATH).c_str(), dir.Join("Setup.z").c_str(), FALSE));
    PROCESS_INFORMATION setup = StartChild("\"" + dir.Join("Setup.exe") + "\"");
    Running ending{setup};
    HWND sheet = WaitForProcessWindow(setup.dwProcessId, DialogClass, "Welcome", 30000);
    ASSERT_NE(sheet, nullptr) << "no wizard; planted DLLs that ran: "
                              << testing::PrintToString(FilesMatching(dir.Join("*.loaded")));
    HWND page = CurrentSheetPage(sheet);
    for (int i = 0; i < 2; ++i) {
        PressSheetButton(sheet, PSBTN_NEXT);
        page = WaitForSheetPageChange(sheet, page);
        ASSERT_NE(page, nullptr);
    }
    PressSheetButton(sheet, PSBTN_CANCEL);
    HWND aborted = WaitForProcessWindow(setup.dwProcessId, DialogClass, "Setup", 30000);
    ASSERT_NE(aborted, nullptr);
    EXPECT_EQ(ReadMessageBox(aborted, 0).Text, "Setup aborted.");
    PressButton(aborted, IDOK);
    Finish(setup);
    EXPECT_EQ(FilesMatching(dir.Join("*.loaded")), std::vector<std::string>{})
        << "a planted DLL ran inside Setup.exe";
}
