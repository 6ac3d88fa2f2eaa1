#include "driver/UserMessages.h"

#include "core/DiagnosticLog.h"
#include "core/ZorvaneException.h"
#include "driver/RunOptions.h"
#include "support/MessageBoxScript.h"
#include "support/ScopedTempDir.h"
#include "uidriver/UiDriver.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

// Puts RunOptions and the exit code back as a test found them.
class UserMessagesTest : public testing::Test {
protected:
    void SetUp() override { ClearExitCode(); }
    void TearDown() override
    {
        CloseDiagnosticLog();
        ZeroMemory(&RunOptions, sizeof RunOptions);
        ClearExitCode();
    }
    ScopedTempDir Dir;
};

TEST_F(UserMessagesTest, UnattendedRunsLogTheMessageAndTakeTheGivenAnswerWithoutAWindow)
{
    const struct {
        UINT Style;
        int Answer;
        int Code;
        const char* Line; // as logged, after the time
    } cases[] = {
        {MB_OK | MB_ICONERROR, IDOK, ExitFailure, "Setup, error: Failed to create folder C:\\x"},
        {MB_YESNO | MB_ICONQUESTION, IDNO, ExitSuccess,
         "Setup, question, answered No: Failed to create folder C:\\x"},
        {MB_OKCANCEL, IDCANCEL, ExitCancelled,
         "Setup, message, answered Cancel: Failed to create folder C:\\x"},
        {MB_OK | MB_ICONWARNING, IDOK, ExitRestartNeeded, "Setup, warning: Failed to create folder C:\\x"},
        {MB_OK | MB_ICONINFORMATION, IDOK, ExitSuccess, "Setup, information: Failed to create folder C:\\x"},
    };
    for (UiLevel level : {UiLevel::Quiet, UiLevel::Passive}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.Line);
            RunOptions.Ui = level;
            const std::string path = Dir.Join("messages.log");
            DeleteFileA(path.c_str());
            ASSERT_TRUE(OpenDiagnosticLog(path.c_str()));
            ClearExitCode();
            // A box would block this thread until the test times out.
            EXPECT_EQ(
                ShowMessage(nullptr, "Failed to create folder C:\\x", "Setup", c.Style, c.Answer, c.Code),
                c.Answer);
            CloseDiagnosticLog();
            EXPECT_EQ(RunExitCode(), c.Code);
            std::string logged = ReadTestFile(path);
            ASSERT_GT(logged.size(), 21u);
            EXPECT_EQ(logged.substr(21), std::string(c.Line) + "\r\n");
        }
    }
}

TEST_F(UserMessagesTest, TheInteractiveRunShowsTheBoxAndRecordsNothing)
{
    BoxOwner owner;
    int answer = 0;
    RunAnsweringBoxes(owner.Window,
                      [&] {
                          answer = ShowMessage(owner.Window, "Go on?", "Uninstall",
                                               MB_YESNO | MB_ICONQUESTION, IDNO, ExitCancelled);
                      },
                      {{"Uninstall", "Go on?", MB_ICONQUESTION, {IDYES, IDNO}, IDYES}});
    EXPECT_EQ(answer, IDYES);
    RunAnsweringBoxes(owner.Window, [&] { ShowError(ZorvaneException(ErrOwnText, "Broken"), owner.Window); },
                      {{"Setup", "Broken", MB_ICONHAND, {IDOK}, IDOK}});
    EXPECT_EQ(RunExitCode(), ExitSuccess);
}

TEST_F(UserMessagesTest, TheFirstFailureDecidesAndARestartOnlyReplacesSuccess)
{
    const struct {
        std::vector<int> Recorded;
        int Outcome;
    } cases[] = {
        {{}, ExitSuccess},
        {{ExitSuccess}, ExitSuccess},
        {{ExitRestartNeeded}, ExitRestartNeeded},
        {{ExitRestartNeeded, ExitSuccess}, ExitRestartNeeded},
        {{ExitFailure, ExitRestartNeeded}, ExitFailure},
        {{ExitRestartNeeded, ExitFailure}, ExitFailure},
        {{ExitCancelled, ExitFailure}, ExitCancelled},
        {{ExitPackageUnopenable, ExitSuccess, ExitFailure}, ExitPackageUnopenable},
    };
    for (const auto& c : cases) {
        ClearExitCode();
        for (int code : c.Recorded)
            RecordExitCode(code);
        EXPECT_EQ(RunExitCode(), c.Outcome) << testing::PrintToString(c.Recorded);
    }
}

TEST(ShowError, ShowsComposedTextCaptionedSetupWithErrorIconAndOk)
{
    SetLastError(ERROR_FILE_NOT_FOUND);
    ZorvaneException error(ErrFileNotFound, "C:\\pkg\\Setup.z");
    const std::string expected = ComposeMessageText(error);

    MessageBoxContent seen;
    bool found = false;
    std::thread user([&] {
        HWND box = WaitForWindow(DialogClass, "Setup");
        if (box == nullptr)
            return;
        found = true;
        seen = ReadMessageBox(box);
        PressButton(box, IDOK);
    });
    ShowError(error, nullptr);
    user.join();

    ASSERT_TRUE(found) << "no message box captioned Setup appeared";
    EXPECT_EQ(seen.Caption, "Setup");
    EXPECT_EQ(seen.Text, expected);
    EXPECT_EQ(seen.Icon, StandardMessageBoxIcon(MB_ICONERROR));
    EXPECT_EQ(seen.ButtonIds, std::vector<int>{IDOK});
}

} // namespace
