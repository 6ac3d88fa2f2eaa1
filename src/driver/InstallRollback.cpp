#include "driver/InstallRollback.h"

#include "core/DiagnosticLog.h"
#include "core/InstallJournal.h"
#include "core/SetupState.h"
#include "core/UserMessages.h"
#include "core/ZorvaneException.h"
#include "payload/BootTimeDeletion.h"
#include "ui/ProgressDisplay.h"

#include <stdio.h>

namespace {

const char UndoingText[] = "Undoing the changes...";
const char KeptAsideText[] = "Setup could not undo every change. These files stay under the names "
                             "shown\rand are put back by the next run of Setup:\r%s";

// Plays the active journal backwards with the status line shown; true when it was undone whole.
bool PlayBackwards(HWND backdrop)
{
    HWND progress = CreateProgressDisplay(backdrop);
    SetProgressStatus(progress, UndoingText);
    // A passive run's windows paint on their own thread; the interactive one paints here, once.
    if (progress != nullptr && GetWindowThreadProcessId(progress, nullptr) == GetCurrentThreadId())
        UpdateWindow(progress);
    UndoResult result;
    UndoInstallJournal(&result);
    CloseProgressDisplay(progress);
    if (result.Complete)
        return true;
    char text[sizeof KeptAsideText + sizeof result.Kept];
    snprintf(text, sizeof text, KeptAsideText, result.Kept);
    ShowMessage(backdrop, text, "Setup", MB_OK | MB_ICONERROR, IDOK, ExitFailure);
    return false;
}

} // namespace

bool StartInstallUndo(HWND backdrop)
{
    char path[MAX_PATH];
    if (!DefaultJournalPath(path)) {
        ShowError(PathTooLong(ErrUnableToOpen, InstallJournalName), backdrop);
        return false;
    }
    if (!StartInstallJournal(path)) {
        ShowError(ZorvaneException(ErrUnableToOpen, path), backdrop);
        return false;
    }
    return true;
}

bool UnattendedRunFailed()
{
    return IsUnattended() && RunExitCode() != ExitSuccess && RunExitCode() != ExitRestartNeeded;
}

void CheckRegistryWrites()
{
    char key[MAX_PATH];
    if (RegistryWriteRefused(key))
        throw ZorvaneException(ErrWriteError, key);
}

void UndoInstall(HWND backdrop)
{
    if (PlayBackwards(backdrop))
        WriteLogLine("undo", "done; nothing of this run is left");
}

void FinishInstall()
{
    int left = CommitInstallJournal(LeaveForRestart);
    if (left == 0)
        return;
    char text[64];
    snprintf(text, sizeof text, "%d deleted at the next restart", left);
    // LeaveForRestart counted them: the run's end turns that count into its exit code.
    WriteLogLine("old files set aside", text);
}

bool RecoverInterruptedInstall(HWND backdrop)
{
    char path[MAX_PATH];
    if (!DefaultJournalPath(path))
        return true;
    switch (OpenLeftJournal(path)) {
    case LeftJournal::None:
        return true;
    case LeftJournal::InUse:
        WriteLogLine("recovery", "another run of Setup is installing; its journal is left alone");
        return true;
    case LeftJournal::Unreadable:
        WriteLogLine("recovery", "the journal of an install that did not end cannot be read");
        return true;
    case LeftJournal::Opened:
        break;
    }
    bool undone = PlayBackwards(backdrop);
    WriteLogLine("recovery", undone ? "the changes of an install that did not end were undone"
                                    : "the changes of an install that did not end could not all be undone");
    return undone;
}
