#include "driver/UninstallSequence.h"

#include "core/DiagnosticLog.h"
#include "core/InstallJournal.h"
#include "core/SetupState.h"
#include "core/PathUtilities.h"
#include "core/ProductTexts.h"
#include "core/UserMessages.h"
#include "driver/InstallRollback.h"
#include "driver/ProgramStart.h"
#include "driver/RunOutcome.h"
#include "driver/RunningInstanceGuard.h"
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

} // namespace

void RunUninstall(HWND backdrop)
{
    char installationFolder[MAX_PATH];
    ReadRegistryString(HKEY_LOCAL_MACHINE, UninstallKey, InstallLocationValue, "", installationFolder,
                       sizeof installationFolder);
    if (installationFolder[0] == '\0') {
        ShowMessage(backdrop, NotInstalledText, UninstallCaption, MB_OK | MB_ICONERROR, IDOK,
                    ExitNotInstalled);
        return;
    }
    // The log's records are acted on only inside this folder: one that cannot serve as that
    // boundary would leave every file in place while the entries went, so nothing is touched.
    if (!NormalizeInstallationFolder(installationFolder)) {
        char text[sizeof UntrustedFolderText + MAX_PATH];
        snprintf(text, sizeof text, UntrustedFolderText, installationFolder);
        ShowMessage(backdrop, text, UninstallCaption, MB_OK | MB_ICONERROR, IDOK, ExitFailure);
        return;
    }
    WriteLogLine("installation", installationFolder);
    char productProgram[MAX_PATH];
    lstrcpynA(productProgram, installationFolder, sizeof productProgram);
    const bool programNamed = AppendPathComponent(productProgram, "tpz2.exe");
    if (!WaitForProductExit(backdrop, GuardMode::Uninstall, programNamed ? productProgram : nullptr))
        return;
    WriteLogLine("guard", "the product is not running");
    if (ShowMessage(backdrop, ConfirmUninstallText, UninstallCaption, MB_YESNO | MB_ICONQUESTION, IDYES) !=
        IDYES)
        return;

    if (StoppedHere())
        return;
    // Confirmed, and the product not running: a journal left behind is acted on now. An install's
    // undone may have taken the installation with it.
    LeftUninstall resumed;
    if (!RecoverInterruptedRun(backdrop, &resumed))
        return;
    char stillThere[MAX_PATH];
    ReadRegistryString(HKEY_LOCAL_MACHINE, UninstallKey, InstallLocationValue, "", stillThere,
                       sizeof stillThere);
    if (resumed == LeftUninstall::None && !NormalizeInstallationFolder(stillThere)) {
        ShowMessage(backdrop, NotInstalledText, UninstallCaption, MB_OK | MB_ICONERROR, IDOK,
                    ExitNotInstalled);
        return;
    }
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

    // The uninstaller deleting itself at the next restart is no reason for one: only files of the
    // product left in use make the run ask for a restart (the driver's RecordFilesLeftForRestart).
    const char* finalText = UninstallErrorsText;
    int exitCode = ExitFailure;
    if (RemoveLoggedFiles(backdrop, installationFolder, resumed == LeftUninstall::Resumed) != 0) {
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
