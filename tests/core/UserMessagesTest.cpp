#include "core/UserMessages.h"

#include "core/DiagnosticLog.h"
#include "core/SetupState.h"
#include "core/ZorvaneException.h"
#include "support/MessageBoxScript.h"
#include "support/ScopedTempDir.h"

#include <gtest/gtest.h>

#include <string>

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

} // namespace
