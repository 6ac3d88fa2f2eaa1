#include "driver/SetupRun.h"

#include "core/DiagnosticLog.h"
#include "core/InstallJournal.h"
#include "core/PathUtilities.h"
#include "core/SystemLibraries.h"
#include "core/SetupState.h"
#include "driver/CommandLine.h"
#include "driver/InstallSequence.h"
#include "driver/RunOptions.h"
#include "driver/RunOutcome.h"
#include "driver/RunWindows.h"
#include "driver/RunningInstanceGuard.h"
#include "driver/UninstallSequence.h"
#include "driver/UserMessages.h"
#include "payload/InstallLog.h"
#include "system/Shortcuts.h"

#include <objbase.h>
#include <stdio.h>

namespace {

const char AnotherSetupText[] =
    "Another Setup of TALVIQ Project Zorvane 2 Demo is running.\rPlease wait until it has finished.";

// The first line of a run's log: what was asked, and how it was read.
void LogStart()
{
    const char* levels[] = {"interactive", "passive", "quiet"};
    char text[2048];
    snprintf(text, sizeof text, "%s, %s: %s", UninstallMode == 1 ? "uninstall" : "install",
             levels[static_cast<int>(RunOptions.Ui)], GetCommandLineA());
    WriteLogLine("start", text);
}

void RunSequence()
{
    HWND backdrop = PutUpRunWindows();
    // A journal left by a run that did not end is acted on by the sequence, once it has passed the
    // guard and goes on to change the machine.
    if (UninstallMode == 1)
        RunUninstall(backdrop);
    else
        RunInstall(backdrop);
    TakeDownRunWindows();
    RecordFilesLeftForRestart();
}

} // namespace

int RunSetup(HINSTANCE instance)
{
    ModuleInstance = instance;
    // Every folder the run makes is the install journal's to undo.
    SetFolderCreationHooks(JournalFolderCreation, JournalChangeDone);
    // The shortcuts' folder and files are the log's to list, in its own records.
    SetShortcutLogging([](FileWriter& log, const char* folder) { WriteLogRecord(log, FolderRecord, folder); },
                       [](FileWriter& log, const char* path) { WriteLogRecord(log, FileRecord, path); });
    ParseCommandLine();
    // A quiet run shows no window: it loads no common controls and joins COM's free-threaded
    // apartment, which needs no window of its own. Under Wine either would start the desktop
    // process and wait for it, a fifth of a second before the first file.
    if (RunOptions.Ui != UiLevel::Quiet) {
        SystemInitCommonControls();
        CoInitialize(nullptr);
    } else {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    }

    // Without its log an unattended run could not tell anyone what it did: it does nothing.
    if (RunOptions.LogPath[0] != '\0' && !OpenDiagnosticLog(RunOptions.LogPath))
        return ExitLogUnopenable;
    LogStart();
    if (RunOptions.Problem[0] != '\0') {
        char text[sizeof RunOptions.Problem + 32];
        snprintf(text, sizeof text, "Invalid command line: %s", RunOptions.Problem);
        ShowMessage(nullptr, text, "Setup", MB_OK | MB_ICONERROR, IDOK, ExitInvalidCommandLine);
    } else if (RunOptions.ShowHelp) {
        ShowMessage(nullptr, SwitchHelpText, "Setup", MB_OK | MB_ICONINFORMATION);
    } else if (!ClaimSetupMutex()) {
        ShowMessage(nullptr, AnotherSetupText, "Setup", MB_OK | MB_ICONERROR, IDOK, ExitBusy);
    } else {
        if (RunOptions.NoRestart)
            WriteLogLine("/norestart", "noted; Setup never restarts Windows");
        RunSequence();
    }

    // The interactive run ends with 0 whatever happened, as it always has.
    const int exitCode = IsUnattended() ? RunExitCode() : ExitSuccess;
    char codeText[16];
    snprintf(codeText, sizeof codeText, "%d", exitCode);
    WriteLogLine("exit code", codeText);
    CloseDiagnosticLog();
    CoUninitialize();
    return exitCode;
}
