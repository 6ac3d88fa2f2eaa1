// The windows of a passive run: they live on a thread of their own, answer at once whatever the
// install thread does, show the progress handed to them, and, told that a close means stop, report
// a close of the backdrop or the progress dialog's Cancel as the user's request to stop.
#include "core/SetupState.h"
#include "core/ZorvaneException.h"
#include "driver/UserMessages.h"
#include "ui/BackdropWindow.h"
#include "ui/PassiveWindows.h"
#include "ui/ProgressDisplay.h"
#include "ui/WindowStop.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

namespace {

class UnattendedWindowsTest : public testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        ModuleInstance = GetModuleHandleA(nullptr);
        RegisterBackdropClass();
    }
    void TearDown() override
    {
        SetCloseMeansStop(false);
        ClearStopAsked();
        ClearExitCode();
    }
};

// The text a progress update threw, or "" when it went through.
std::string UpdateThrows(HWND progress, bool position)
{
    try {
        if (position)
            SetProgressPosition(progress, 50);
        else
            SetProgressStatus(progress, "Readme.txt");
    } catch (const ZorvaneException& error) {
        return ComposeMessageText(error);
    }
    return "";
}

// Polls until check holds, at most timeoutMs; true when it did.
template <typename Check> bool Within(DWORD timeoutMs, Check check)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs; Sleep(5))
        if (check())
            return true;
    return check();
}

std::string StatusText(HWND progress)
{
    char text[MAX_PATH] = "";
    GetDlgItemTextA(progress, 101, text, sizeof text);
    return text;
}

TEST_F(UnattendedWindowsTest, PassiveWindowsAnswerWhileTheRunIsBusyShowItsProgressAndTakeAClose)
{
    // The interactive progress ignores its Cancel button, as it always has.
    HWND interactive = CreateProgressDisplay(nullptr);
    ASSERT_NE(interactive, nullptr);
    SendMessageA(interactive, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_FALSE(StopAsked());
    EXPECT_EQ(UpdateThrows(interactive, false), "");
    EXPECT_EQ(StatusText(interactive), "Readme.txt") << "shown at once on its own thread";
    CloseProgressDisplay(interactive);
    EXPECT_FALSE(IsWindow(interactive));

    // How the user closes a passive run: the dialog's Cancel button, or the backdrop's close (Alt+F4).
    for (bool byBackdrop : {false, true}) {
        SCOPED_TRACE(byBackdrop ? "backdrop" : "Cancel");
        SetCloseMeansStop(true); // as the driver tells the windows of a passive run
        ClearStopAsked();
        HWND backdrop = StartPassiveWindows();
        ASSERT_NE(backdrop, nullptr);
        EXPECT_NE(GetWindowThreadProcessId(backdrop, nullptr), GetCurrentThreadId());
        HWND progress = CreateProgressDisplay(backdrop);
        ASSERT_NE(progress, nullptr);
        EXPECT_EQ(GetWindowThreadProcessId(progress, nullptr), GetWindowThreadProcessId(backdrop, nullptr));
        EXPECT_EQ(UpdateThrows(progress, false), "");
        EXPECT_TRUE(Within(1000, [&] { return StatusText(progress) == "Readme.txt"; }));
        EXPECT_EQ(UpdateThrows(progress, true), "");
        EXPECT_TRUE(Within(1000, [&] { return SendDlgItemMessageA(progress, 102, PBM_GETPOS, 0, 0) == 50; }));

        // The install thread busy in one long step: the windows still answer within 100 ms.
        DWORD_PTR answer = 0;
        EXPECT_NE(SendMessageTimeoutA(backdrop, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 100, &answer), 0);
        if (byBackdrop)
            PostMessageA(backdrop, WM_CLOSE, 0, 0);
        else
            PostMessageA(progress, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        EXPECT_TRUE(Within(100, [] { return StopAsked(); })) << "taken without any update";
        EXPECT_EQ(UpdateThrows(progress, true), "")
            << "the updates never throw: the run stops where it is safe";
        EXPECT_EQ(RunExitCode(), ExitSuccess) << "the exit code is the run's to decide";
        EXPECT_TRUE(IsWindow(backdrop)) << "the backdrop stays until the run ends";
        CloseProgressDisplay(progress);
        EXPECT_FALSE(IsWindow(progress));
        StopPassiveWindows();
        EXPECT_FALSE(IsWindow(backdrop));
    }
}

} // namespace
