#include "driver/UninstallSequence.h"

#include "core/DiagnosticLog.h"
#include "core/PathUtilities.h"
#include "core/UserMessages.h"
#include "driver/RunningInstanceGuard.h"
#include "payload/LogRemoval.h"
#include "system/ProductRegistration.h"
#include "system/Registry.h"

#include <stdio.h>

namespace {

const char UninstallCaption[] = "Uninstall";
const char UnregisterCaption[] = "Setup";
const char NotInstalledText[] =
    "Unable to locate TALVIQ Project Zorvane 2 Demo installation.\rTALVIQ Project Zorvane 2 Demo was not "
    "installed on your system or the installation is damaged.\rUninstall will not continue...";
const char ConfirmText[] =
    "This will uninstall TALVIQ Project Zorvane 2 Demo from your system.\rDo you want to "
    "continue with Uninstall?";
const char UntrustedFolderText[] =
    "The installation folder of TALVIQ Project Zorvane 2 Demo cannot be used:\r%s\rUninstall will not "
    "continue...";
const char UnregisterFailedText[] = "Failed to unregister TALVIQ Project Zorvane";
const char RemovedText[] =
    "Uninstall removed program files.\rYou should reboot your computer to complete uninstall.";
const char ErrorsText[] = "There were errors during uninstall.";

const char ProductProgram[] = "tpz2.exe";
const char UnregisterSwitch[] = " /UnRegServer";
const DWORD UnregisterTimeoutMs = 10000;

// Room for every program path that fits MAX_PATH, quoted, with the switch and the terminator.
const size_t CommandLineSize = MAX_PATH + 2 + sizeof UnregisterSwitch;

// Runs the product's own unregistration and waits for it, at most UnregisterTimeoutMs; whether
// it finished is not examined. Reports only a program that cannot be started.
void UnregisterProduct(HWND backdrop, const char* installationFolder)
{
    char program[MAX_PATH];
    lstrcpynA(program, installationFolder, sizeof program);
    char commandLine[CommandLineSize];
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (AppendPathComponent(program, ProductProgram) &&
        snprintf(commandLine, sizeof commandLine, "\"%s\"%s", program, UnregisterSwitch) > 0 &&
        CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process)) {
        WaitForSingleObject(process.hProcess, UnregisterTimeoutMs);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return;
    }
    ShowMessage(backdrop, UnregisterFailedText, UnregisterCaption, MB_OK | MB_ICONERROR, IDOK, ExitFailure);
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
    if (!WaitForProductExit(backdrop, GuardMode::Uninstall))
        return;
    WriteLogLine("guard", "the product is not running");
    if (ShowMessage(backdrop, ConfirmText, UninstallCaption, MB_YESNO | MB_ICONQUESTION, IDYES) != IDYES)
        return;

    UnregisterProduct(backdrop, installationFolder);
    WriteLogLine("unregistration", "done");

    const char* finalText = ErrorsText;
    int exitCode = ExitFailure;
    if (RemoveLoggedFiles(backdrop, installationFolder) != 0) {
        WriteLogLine("removal", "done; Setup.exe is deleted at the next restart");
        RemoveProductRegistration();
        WriteLogLine("registry entries", "removed");
        finalText = RemovedText;
        exitCode = ExitRestartNeeded;
    }
    ShowMessage(backdrop, finalText, UninstallCaption, MB_OK | MB_ICONWARNING, IDOK, exitCode);
}
