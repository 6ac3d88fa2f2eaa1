#include "driver/InstallRollback.h"

#include "core/DiagnosticLog.h"
#include "core/InstallJournal.h"
#include "core/SetupState.h"
#include "core/StartMenuFolders.h"
#include "core/ZorvaneException.h"
#include "driver/RunOptions.h"
#include "driver/RunWindows.h"
#include "driver/UserMessages.h"
#include "payload/BootTimeDeletion.h"
#include "system/ProductRegistration.h"
#include "system/Registry.h"
#include "ui/ProgressDisplay.h"

#include <shlobj.h>
#include <stdio.h>

namespace {

const char UndoingText[] = "Undoing the changes...";
const char KeptAsideText[] = "Setup could not undo every change. These files stay under the names "
                             "shown\rand are put back by the next run of Setup:\r%s";

// Where the undo of a journal left behind may act besides its destination: what the uninstall
// accepts (the system folder, the product's Start-menu folders) and the product's keys.
struct ProductBounds {
    char System[MAX_PATH];
    char StartMenu[MAX_PATH];
    char CommonStartMenu[MAX_PATH];
    UndoBounds Bounds;
};

const char* const ProductKeys[] = {UninstallKey, AddinDesignerKey, LoadBehaviorsKey};

void FindProductBounds(HWND owner, ProductBounds* found)
{
    UINT length = GetSystemDirectoryA(found->System, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        found->System[0] = '\0';
    GetProductStartMenuFolder(owner, CSIDL_PROGRAMS, found->StartMenu);
    GetProductStartMenuFolder(owner, CSIDL_COMMON_PROGRAMS, found->CommonStartMenu);
    found->Bounds = {{found->System, found->StartMenu, found->CommonStartMenu, nullptr},
                     ProductKeys,
                     static_cast<int>(sizeof ProductKeys / sizeof ProductKeys[0])};
}

// Plays the active journal backwards with the status line shown; true when it was undone whole.
bool PlayBackwards(HWND backdrop)
{
    ProductBounds bounds;
    FindProductBounds(backdrop, &bounds);
    HWND progress = ShowProgress(backdrop);
    SetProgressStatus(progress, UndoingText);
    // A passive run's windows paint on their own thread; the interactive one paints here, once.
    if (progress != nullptr && GetWindowThreadProcessId(progress, nullptr) == GetCurrentThreadId())
        UpdateWindow(progress);
    UndoResult result;
    UndoInstallJournal(&result, &bounds.Bounds);
    CloseProgressDisplay(progress);
    if (result.Complete)
        return true;
    char text[sizeof KeptAsideText + sizeof result.Kept];
    snprintf(text, sizeof text, KeptAsideText, result.Kept);
    ShowMessage(backdrop, text, "Setup", MB_OK | MB_ICONERROR, IDOK, ExitFailure);
    return false;
}

void LogHandedOn(int left)
{
    if (left == 0)
        return;
    char text[64];
    snprintf(text, sizeof text, "%d deleted at the next restart", left);
    // LeaveForRestart counted them: the run's end turns that count into its exit code.
    WriteLogLine("old files set aside", text);
}

} // namespace

bool StartInstallUndo(HWND backdrop)
{
    char path[MAX_PATH];
    if (!DefaultJournalPath(path)) {
        ShowError(PathTooLong(ErrUnableToOpen, InstallJournalName), backdrop);
        return false;
    }
    if (!StartInstallJournal(path, DestinationFolder)) {
        ShowError(ZorvaneException(ErrUnableToOpen, path), backdrop);
        return false;
    }
    return true;
}

void StartUninstallJournal(const char* installationFolder)
{
    if (InstallJournalActive())
        return;
    char path[MAX_PATH];
    if (!DefaultJournalPath(path) ||
        !StartInstallJournal(path, installationFolder, JournalPurpose::Uninstall))
        WriteLogLine("journal", "cannot be made; an uninstall cut short now is not finished by the next");
}

void EndUninstallJournal() { DiscardInstallJournal(); }

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
    LogHandedOn(CommitInstallJournal(LeaveForRestart));
    char text[64];
    snprintf(text, sizeof text, "committed; %d disk flushes", JournalFlushCount());
    WriteLogLine("journal", text);
}

bool RecoverInterruptedRun(HWND backdrop, LeftUninstall* resumed)
{
    *resumed = LeftUninstall::None;
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
        WriteLogLine("recovery", "the journal of a run that did not end cannot be read");
        return true;
    case LeftJournal::Foreign: {
        char text[2 * MAX_PATH];
        snprintf(text, sizeof text, "a journal not of this build, or that does not parse, is kept as %s",
                 KeptJournalPath()[0] != '\0' ? KeptJournalPath() : path);
        WriteLogLine("recovery", text);
        return true;
    }
    case LeftJournal::Committed: {
        ProductBounds bounds;
        FindProductBounds(backdrop, &bounds);
        LogHandedOn(FinishCommittedJournal(&bounds.Bounds, LeaveForRestart));
        WriteLogLine("recovery",
                     "an install that committed was finished; the old files it set aside are gone");
        return true;
    }
    case LeftJournal::Uninstall:
        if (UninstallMode == 1) {
            *resumed = LeftUninstall::Resumed;
            WriteLogLine("recovery", "an uninstall that did not end is finished by this one");
        } else {
            DiscardInstallJournal();
            WriteLogLine("recovery", "an uninstall that did not end is superseded by this install");
        }
        return true;
    case LeftJournal::Opened:
        break;
    }
    bool undone = PlayBackwards(backdrop);
    WriteLogLine("recovery", undone ? "the changes of an install that did not end were undone"
                                    : "the changes of an install that did not end could not all be undone");
    return undone;
}
