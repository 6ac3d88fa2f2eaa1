#include "driver/UninstallSequence.h"

#include "core/DiagnosticLog.h"
#include "core/InstallJournal.h"
#include "core/PathUtilities.h"
#include "core/ProductTexts.h"
#include "driver/InstallRollback.h"
#include "driver/ProgramStart.h"
#include "driver/RunOutcome.h"
#include "driver/RunningInstanceGuard.h"
#include "driver/UserMessages.h"
#include "payload/LogRemoval.h"
#include "system/ProductRegistration.h"
#include "system/Registry.h"

#include <stdio.h>
#include <string.h>

namespace {

const char UnregisterSwitch[] = " /UnRegServer";
const DWORD UnregisterTimeoutMs = 10000;

// Runs the product's own unregistration, waits for it at most UnregisterTimeoutMs and logs how it
// ended. Reports only a program that cannot be started.
void UnregisterProduct(HWND backdrop, const char* installationFolder)
{
    char command[ProductCommandSize];
    DWORD exitCode = STILL_ACTIVE;
    if (FormatProductCommand(command, installationFolder)) {
        char line[ProductCommandSize];
        snprintf(line, sizeof line, "%s%s", command, UnregisterSwitch); // room for the longest switch
        if (StartProgram(line, UnregisterTimeoutMs, &exitCode)) {
            char outcome[64];
            DescribeProgramEnd(outcome, sizeof outcome, exitCode, UnregisterTimeoutMs);
            if (exitCode != 0)
                strncat(outcome, ", going on", sizeof outcome - strlen(outcome) - 1);
            WriteLogLine("unregistration", outcome);
            return;
        }
    }
    ShowMessage(backdrop, UnregisterFailedText, SetupCaption, MB_OK | MB_ICONERROR, IDOK, ExitFailure);
}

// Removes what the log names and decides what its outcome means: without a log the user may have
// the registry entries cleared alone (true on Yes); a log that cannot be read is shown. True when
// the registry entries are to go.
bool RemoveFilesOfLog(HWND backdrop, const char* installationFolder, bool resumed)
{
    LogRemovalResult removal = RemoveLoggedFiles(backdrop, installationFolder, resumed);
    switch (removal.Outcome) {
    case LogRemovalOutcome::Removed:
        return true;
    case LogRemovalOutcome::NoLog:
        return ShowMessage(backdrop, NoLogQuestion, UninstallCaption, MB_YESNO | MB_ICONERROR, IDNO) == IDYES;
    case LogRemovalOutcome::ReadFailed:
        ShowError(*removal.ReadError, backdrop);
        break;
    }
    return false;
}

} // namespace

namespace {

// The installation folder from the uninstall entry, into installationFolder (MAX_PATH bytes); false,
// having said why, when there is none or none it can trust.
bool LocateInstallation(HWND backdrop, char* installationFolder)
{
    ReadRegistryString(HKEY_LOCAL_MACHINE, UninstallKey, InstallLocationValue, "", installationFolder,
                       MAX_PATH);
    if (installationFolder[0] == '\0') {
        ShowMessage(backdrop, NotInstalledText, UninstallCaption, MB_OK | MB_ICONERROR, IDOK,
                    ExitNotInstalled);
        return false;
    }
    // The log's records are acted on only inside this folder: one that cannot serve as that
    // boundary would leave every file in place while the entries went, so nothing is touched.
    if (!NormalizeInstallationFolder(installationFolder)) {
        char text[sizeof UntrustedFolderText + MAX_PATH];
        snprintf(text, sizeof text, UntrustedFolderText, installationFolder);
        ShowMessage(backdrop, text, UninstallCaption, MB_OK | MB_ICONERROR, IDOK, ExitFailure);
        return false;
    }
    WriteLogLine("installation", installationFolder);
    return true;
}

// Once the product (productProgram, null when unknown) does not run, asks for confirmation; false
// when the user gave up at the guard, said No or stopped the run.
bool GuardAndConfirm(HWND backdrop, const char* productProgram)
{
    if (!WaitForProductExit(backdrop, GuardMode::Uninstall, productProgram))
        return false;
    WriteLogLine("guard", "the product is not running");
    if (ShowMessage(backdrop, ConfirmUninstallText, UninstallCaption, MB_YESNO | MB_ICONQUESTION, IDYES) !=
        IDYES)
        return false;
    return !StoppedHere();
}

// Confirmed, and the product not running: a journal left behind is acted on now. An install's
// undone may have taken the installation with it: false then, having said so.
bool RecoverBeforeRemoval(HWND backdrop, LeftUninstall* resumed)
{
    if (!RecoverInterruptedRun(backdrop, resumed))
        return false;
    char stillThere[MAX_PATH];
    ReadRegistryString(HKEY_LOCAL_MACHINE, UninstallKey, InstallLocationValue, "", stillThere,
                       sizeof stillThere);
    if (*resumed == LeftUninstall::None && !NormalizeInstallationFolder(stillThere)) {
        ShowMessage(backdrop, NotInstalledText, UninstallCaption, MB_OK | MB_ICONERROR, IDOK,
                    ExitNotInstalled);
        return false;
    }
    return true;
}

// Removes the files the log names and then the registry entries, and says how it went. The
// uninstaller deleting itself at the next restart is no reason for one: only files of the product
// left in use make the run ask for a restart (the driver's RecordFilesLeftForRestart).
void RemoveAndReport(HWND backdrop, const char* installationFolder, bool resumed)
{
    const char* finalText = UninstallErrorsText;
    int exitCode = ExitFailure;
    if (RemoveFilesOfLog(backdrop, installationFolder, resumed)) {
        WriteLogLine("removal", "done; Setup.exe is deleted at the next restart");
        RemoveProductRegistration();
        JournalChangeDone();
        WriteLogLine("registry entries", "removed");
        finalText = UninstallRemovedText;
        exitCode = ExitSuccess;
    }
    EndUninstallJournal();
    ShowMessage(backdrop, finalText, UninstallCaption, MB_OK | MB_ICONWARNING, IDOK, exitCode);
}

} // namespace

void RunUninstall(HWND backdrop)
{
    char installationFolder[MAX_PATH];
    if (!LocateInstallation(backdrop, installationFolder))
        return;
    char productProgram[MAX_PATH];
    lstrcpynA(productProgram, installationFolder, sizeof productProgram);
    const bool programNamed = AppendPathComponent(productProgram, "tpz2.exe");
    LeftUninstall resumed;
    if (!GuardAndConfirm(backdrop, programNamed ? productProgram : nullptr) ||
        !RecoverBeforeRemoval(backdrop, &resumed))
        return;
    // From here on a cut uninstall is finished by the next.
    StartUninstallJournal(installationFolder);
    // Resumed once the product's program is gone, the cut uninstall unregistered it already.
    if (resumed == LeftUninstall::Resumed && programNamed &&
        GetFileAttributesA(productProgram) == INVALID_FILE_ATTRIBUTES)
        WriteLogLine("unregistration", "done by the uninstall that did not end");
    else
        UnregisterProduct(backdrop, installationFolder);
    JournalChangeDone();
    if (StoppedHere()) {
        EndUninstallJournal();
        return;
    }
    RemoveAndReport(backdrop, installationFolder, resumed == LeftUninstall::Resumed);
}
