// The windows of unattended runs: none in a quiet run; in a passive run a close of the backdrop or
// the progress dialog's Cancel stops the installation at its next progress update.
#include "core/SetupState.h"
#include "core/UserMessages.h"
#include "core/ZorvaneException.h"
#include "ui/BackdropWindow.h"
#include "ui/ProgressDisplay.h"

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
        ZeroMemory(&RunOptions, sizeof RunOptions);
        CancelRequested = false;
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

TEST_F(UnattendedWindowsTest, AQuietRunMakesNeitherBackdropNorProgress)
{
    RunOptions.Ui = UiLevel::Quiet;
    EXPECT_EQ(CreateBackdropWindow(), nullptr);
    EXPECT_EQ(CreateProgressDisplay(nullptr), nullptr);
    EXPECT_EQ(UpdateThrows(nullptr, false), "") << "the updates of a missing dialog do nothing";
}

TEST_F(UnattendedWindowsTest, ClosingAPassiveRunStopsItAtTheNextUpdateAsCancelled)
{
    // The interactive progress ignores its Cancel button, as it always has.
    HWND interactive = CreateProgressDisplay(nullptr);
    ASSERT_NE(interactive, nullptr);
    SendMessageA(interactive, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_FALSE(CancelRequested);
    EXPECT_EQ(UpdateThrows(interactive, false), "");
    DestroyWindow(interactive);

    // How the user closes a passive run: the dialog's Cancel button, or the backdrop's close (Alt+F4).
    for (bool byBackdrop : {false, true}) {
        for (bool position : {false, true}) {
            SCOPED_TRACE(std::string(byBackdrop ? "backdrop" : "Cancel") +
                         (position ? ", position" : ", status"));
            RunOptions.Ui = UiLevel::Passive;
            CancelRequested = false;
            ClearExitCode();
            HWND backdrop = CreateBackdropWindow();
            ASSERT_NE(backdrop, nullptr);
            HWND progress = CreateProgressDisplay(backdrop);
            ASSERT_NE(progress, nullptr);
            EXPECT_EQ(UpdateThrows(progress, position), "") << "nothing asked yet";
            if (byBackdrop)
                PostMessageA(backdrop, WM_CLOSE, 0, 0);
            else
                PostMessageA(progress, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            // Input is taken at most every few milliseconds: the run stops at the first update
            // after that, long before a second has passed.
            std::string thrown;
            for (DWORD start = GetTickCount(); thrown.empty() && GetTickCount() - start < 1000;)
                thrown = UpdateThrows(progress, position);
            EXPECT_EQ(thrown, CancelledText);
            EXPECT_EQ(RunExitCode(), ExitCancelled);
            EXPECT_TRUE(IsWindow(backdrop)) << "the backdrop stays until the run ends";
            DestroyWindow(progress);
            DestroyWindow(backdrop);
        }
    }
}

} // namespace
