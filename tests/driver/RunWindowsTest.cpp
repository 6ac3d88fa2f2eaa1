// The windows a run makes, as its options decide: none in a quiet run, and a close that means stop
// only in a passive run.
#include "driver/RunWindows.h"

#include "core/SetupState.h"
#include "driver/RunOptions.h"
#include "ui/ProgressDisplay.h"
#include "ui/WindowStop.h"

#include <gtest/gtest.h>

namespace {

class RunWindowsTest : public testing::Test {
protected:
    void SetUp() override { ModuleInstance = GetModuleHandleA(nullptr); }
    void TearDown() override
    {
        ZeroMemory(&RunOptions, sizeof RunOptions);
        SetCloseMeansStop(false);
    }
};

TEST_F(RunWindowsTest, AQuietRunMakesNeitherBackdropNorProgress)
{
    RunOptions.Ui = UiLevel::Quiet;
    EXPECT_EQ(PutUpRunWindows(), nullptr);
    EXPECT_EQ(ShowProgress(nullptr), nullptr);
    SetProgressStatus(nullptr, "Readme.txt"); // the updates of a missing dialog do nothing
    SetProgressPosition(nullptr, 50);
    EXPECT_EQ(WizardBitmap, nullptr) << "no picture loaded for no wizard";
    EXPECT_FALSE(CloseMeansStop());
    TakeDownRunWindows();
}

TEST_F(RunWindowsTest, OnlyAPassiveRunTakesACloseOfItsWindowsAsAStop)
{
    const struct {
        UiLevel Ui;
        bool OwnThread;
        bool Stops;
    } cases[] = {{UiLevel::Full, false, false}, {UiLevel::Passive, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.Ui));
        RunOptions.Ui = c.Ui;
        HWND backdrop = PutUpRunWindows();
        ASSERT_NE(backdrop, nullptr);
        EXPECT_EQ(GetWindowThreadProcessId(backdrop, nullptr) != GetCurrentThreadId(), c.OwnThread);
        EXPECT_EQ(CloseMeansStop(), c.Stops);
        TakeDownRunWindows();
        if (!c.OwnThread)
            DestroyWindow(backdrop);
        EXPECT_FALSE(IsWindow(backdrop));
    }
}

} // namespace
