#include "driver/InstallSequence.h"

#include "core/AsideFiles.h"
#include "core/DiagnosticLog.h"
#include "core/FileAccess.h"
#include "core/InstallJournal.h"
#include "core/PathUtilities.h"
#include "core/ProductTexts.h"
#include "core/ZorvaneException.h"
#include "driver/InstallActions.h"
#include "driver/InstallRollback.h"
#include "driver/PackageInstall.h"
#include "driver/ProgramStart.h"
#include "driver/RunOptions.h"
#include "driver/RunOutcome.h"
#include "driver/RunWindows.h"
#include "driver/RunningInstanceGuard.h"
#include "driver/UserMessages.h"
#include "core/SetupState.h"
#include "payload/BootTimeDeletion.h"
#include "payload/InstallLog.h"
#include "payload/LogRemoval.h"
#include "payload/EntryPlacement.h"
#include "system/ProductRegistration.h"
#include "system/Registry.h"
#include "system/Shortcuts.h"
#include "ui/InstallWizard.h"
#include "ui/ProgressDisplay.h"

#include <shlobj.h>
#include <stdio.h>
#include <string.h>

#include <initializer_list>
#include <memory>
#include <new>

namespace {

void StopIfRequested()
{
    if (StopRequested())
        throw ZorvaneException(ErrOwnText, CancelledText);
}

// What the install holds while it runs, and how it ends when a step fails.
struct InstallRun {
    HWND Backdrop;
    std::unique_ptr<FileReader> Package;
    std::unique_ptr<FileWriter> Log;
    HWND Progress;
    bool Undoable; // the journal is started: an ending undoes what the run changed
    bool IsInstalled;
    char Installed[MAX_PATH]; // the folder of the product installed before, when IsInstalled
    char ProductCommand[ProductCommandSize];
    AllowedFolders Allowed; // what the records the run carries from the earlier log may name
    // The failure's message, shown by the ending; empty when the step reported it itself.
    char FailureText[sizeof MessageTextBuffer];
    UINT FailureStyle;
    int FailureExitCode;
};

// A failed step: its message for the ending to show. Always false, for the step to return.
bool Fail(InstallRun& run, const char* text, UINT style = MB_OK | MB_ICONERROR, int exitCode = ExitFailure)
{
    lstrcpynA(run.FailureText, text, sizeof run.FailureText);
    run.FailureStyle = style;
    run.FailureExitCode = exitCode;
    return false;
}

bool Fail(InstallRun& run, const ZorvaneException& error, int exitCode = ExitFailure)
{
    return Fail(run, ComposeMessageText(error), MB_OK | MB_ICONERROR, exitCode);
}

// The one ending of a failed install: the windows and files of the run let go, the failure
// shown, what the run changed undone.
void EndFailedInstall(InstallRun& run)
{
    CloseProgressDisplay(run.Progress);
    run.Log.reset();
    run.Package.reset();
    if (run.FailureText[0] != '\0')
        ShowMessage(run.Backdrop, run.FailureText, SetupCaption, run.FailureStyle, IDOK, run.FailureExitCode);
    if (run.Undoable)
        UndoInstall(run.Backdrop);
}

// Returns once the product does not run; false when the user gave up (the guard reported it).
bool PassGuard(InstallRun& run)
{
    run.IsInstalled = ReadInstalledFolder(run.Installed);
    char productProgram[MAX_PATH];
    lstrcpynA(productProgram, run.Installed, sizeof productProgram);
    const bool programNamed = run.IsInstalled && AppendPathComponent(productProgram, ProductProgramName);
    if (!WaitForProductExit(run.Backdrop, GuardMode::Install, programNamed ? productProgram : nullptr))
        return false;
    WriteLogLine("guard", "the product is not running");
    return true;
}

// The base folder and the registered owner, from the system's defaults.
bool ReadDefaults(InstallRun&)
{
    ReadRegistryString(HKEY_LOCAL_MACHINE, CurrentVersionKey, ProgramFilesDirValue, DefaultProgramFilesDir,
                       DestinationFolder, sizeof DestinationFolder);
    ReadRegistryString(HKEY_LOCAL_MACHINE, CurrentVersionKey, RegisteredOwnerValue, "", RegisteredOwnerName,
                       sizeof RegisteredOwnerName);
    WriteLogLine("defaults", DestinationFolder);
    return true;
}

// The package beside the program.
bool OpenPackage(InstallRun& run)
{
    try {
        char packagePath[MAX_PATH];
        if (!PathBesideProgram(packagePath, "z", false))
            throw PackagePathTooLong();
        run.Package.reset(new (std::nothrow) FileReader(packagePath));
        if (!run.Package)
            throw ZorvaneException(ErrNotEnoughMemory);
        WriteLogLine("package", packagePath);
    } catch (const ZorvaneException& error) {
        return Fail(run, error, ExitPackageUnopenable);
    }
    return true;
}

// The installation folder, into DestinationFolder: the wizard's, or an unattended run's.
bool ChooseInstallFolder(InstallRun& run)
{
    // An upgrade goes where the product is, unless /dir names another folder; the entry then
    // follows the new folder and the old one is left as it is.
    const char* folder = RunOptions.Folder[0] != '\0' ? RunOptions.Folder
                         : run.IsInstalled            ? run.Installed
                                                      : nullptr;
    if (folder == run.Installed)
        WriteLogLine("installed product", run.Installed);
    int finished = ChooseDestination(run.Backdrop, folder);
    // A wizard that could not be shown at all is no consent to install.
    if (finished < 0)
        return Fail(run, ZorvaneException(ErrUnableToShowDialog, ": comctl32.dll"));
    if (finished == 0)
        return Fail(run, "Setup aborted.", MB_OK);
    WriteLogLine("destination", DestinationFolder);
    if (!DestinationHoldsItsNames()) {
        char text[MAX_PATH + 128];
        snprintf(
            text, sizeof text,
            "The destination folder's name is too long:\r%s\rPlease choose a folder with a shorter name.",
            DestinationFolder);
        return Fail(run, text);
    }
    FormatProductCommand(run.ProductCommand, DestinationFolder); // fits: DestinationHoldsItsNames
    return true;
}

// Only now, the product not running and the run going on to change the machine, is a journal left
// behind acted on; then this run's own is started. Both report their own failures.
bool StartUndoableChanges(InstallRun& run)
{
    LeftUninstall leftUninstall;
    if (!RecoverInterruptedRun(run.Backdrop, &leftUninstall) || !StartInstallUndo(run.Backdrop))
        return false;
    run.Undoable = true;
    return true;
}

bool MakeDestination(InstallRun& run)
{
    if (!CreateFolderChain(DestinationFolder)) {
        char text[MAX_PATH + 32];
        snprintf(text, sizeof text, "Failed to create folder %s", DestinationFolder);
        return Fail(run, text);
    }
    WriteLogLine("destination folder", "in place");
    return true;
}

// Setup.log in the destination, the earlier one set aside (and read first, for the records the
// run carries; an undo puts it back byte for byte).
bool OpenInstallLog(InstallRun& run)
{
    try {
        char logPath[MAX_PATH];
        lstrcpynA(logPath, DestinationFolder, sizeof logPath);
        AppendPathComponent(logPath, InstallLogName); // fits: DestinationHoldsItsNames
        BeginRunLog(logPath);
        PrepareFileChange(logPath);
        run.Log.reset(new (std::nothrow) FileWriter(logPath));
        if (!run.Log)
            throw ZorvaneException(ErrNotEnoughMemory);
    } catch (const ZorvaneException& error) {
        return Fail(run, error);
    }
    WriteLogLine("Setup.log", "created");
    return true;
}

// The package's files in place and logged, with what earlier installs here made and this one
// leaves in place carried into the log: it stays the uninstall's to remove.
void ExtractFiles(InstallRun& run)
{
    WriteLogRecord(*run.Log, FolderRecord, DestinationFolder);
    // Files an uninstall before this run left for the restart, which this run must keep whole.
    NoteRestartDeletions();
    ExtractPackage(run.Progress, *run.Package, *run.Log, StopRequested);
    WriteLogLine("extraction", "done");
    FindAllowedFolders(run.Backdrop, DestinationFolder, &run.Allowed);
    WriteCountLine("Setup.log", CarryEarlierRecords(*run.Log, run.Allowed, CarriedPart::Installed),
                   "records of the earlier log carried");
    StopIfRequested();
}

// The uninstall entry and the add-in keys, then the uninstaller beside them.
void RegisterUninstaller(InstallRun& run)
{
    SetProgressStatus(run.Progress, "Creating Registry Keys...");
    char uninstallerPath[MAX_PATH];
    lstrcpynA(uninstallerPath, DestinationFolder, sizeof uninstallerPath);
    AppendPathComponent(uninstallerPath, UninstallerName); // fits: DestinationHoldsItsNames
    // Every value recorded first, under one flush, then written; a value whose state could not be
    // recorded is written by neither pass.
    SetRegistryJournalMode(RegistryJournalMode::RecordOnly);
    BeginJournalBatch();
    WriteProductRegistration(uninstallerPath);
    const bool recorded = EndJournalBatch();
    SetRegistryJournalMode(RegistryJournalMode::Each);
    if (!recorded)
        throw ZorvaneException(ErrWriteError, InstallJournalPath());
    CheckRegistryWrites();
    SetRegistryJournalMode(RegistryJournalMode::Recorded);
    WriteProductRegistration(uninstallerPath);
    SetRegistryJournalMode(RegistryJournalMode::Each);
    CheckRegistryWrites();
    WriteLogLine("registration", "written");
    CopySelfAsUninstaller(uninstallerPath);
}

void CreateShortcuts(InstallRun& run)
{
    SetProgressStatus(run.Progress, "Creating Shortcuts...");
    StopIfRequested();
    char linkPath[MAX_PATH];
    char targetPath[MAX_PATH];
    // Where every user sees them when asked, or when the system account installs: its own Start
    // menu is nobody's.
    const bool allUsers = RunOptions.AllUsers || RunsAsSystemAccount();
    CreateStartMenuShortcuts(run.Backdrop, allUsers ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS, *run.Log,
                             linkPath, targetPath);
    WriteLogLine("shortcuts", allUsers ? "created for all users" : "created");
    WriteCountLine("Setup.log", CarryEarlierRecords(*run.Log, run.Allowed, CarriedPart::Shortcuts),
                   "records of the earlier log carried");
    // The log's last record is written: what the run left of it is known now.
    JournalFileMade(run.Log->FileName);
    StopIfRequested();
}

// The product's own COM registration and its conversion of the previous version's data.
void RegisterWithProduct(InstallRun& run)
{
    // The flushing holds the files it flushes open for writing: the product's program must be free.
    WaitForReplacingFiles();
    char registration[ProductCommandSize];
    snprintf(registration, sizeof registration, "%s /RegServer", run.ProductCommand);
    SetProgressStatus(run.Progress, "Registering COM server...");
    RegisterProduct(run.Backdrop, registration);
    StopIfRequested();
    ConvertOldProjectFile(run.Progress);
}

// The steps shown on the progress dialog; the first ZorvaneException of any fails them all.
bool InstallWithProgress(InstallRun& run)
{
    run.Progress = ShowProgress(run.Backdrop);
    try {
        ExtractFiles(run);
        RegisterUninstaller(run);
        CreateShortcuts(run);
        RegisterWithProduct(run);
    } catch (const ZorvaneException& error) {
        return Fail(run, error, FailureExitCode(error, run.Package->FileName));
    }
    CloseProgressDisplay(run.Progress);
    run.Progress = nullptr;
    // Unattended, a failure the interactive run reports and goes on from ends the run undone; it
    // was shown already.
    return !UnattendedRunFailed();
}

// The last change that can fail is made: the install commits, and no later run undoes it. The Run
// value and the product's start the questions lead to are no part of it.
bool CommitInstall(InstallRun& run)
{
    run.Log.reset();
    FinishInstall();
    run.Undoable = false;
    WithdrawEarlierRestartDeletions();
    return true;
}

void AskClosingQuestions(InstallRun& run)
{
    if (ShowMessage(run.Backdrop,
                    "Setup complete.\rDo you wish TALVIQ Project Zorvane to run each time Windows starts?",
                    SetupCaption, MB_YESNO | MB_ICONQUESTION,
                    RunOptions.RunAtStartup ? IDYES : IDNO) == IDYES)
        WriteRegistryString(HKEY_LOCAL_MACHINE, RunKey, RunValueName, run.ProductCommand);

    if (ShowMessage(run.Backdrop, "Do you want to start TALVIQ Project Zorvane 2 Demo right now?",
                    SetupCaption, MB_YESNO | MB_ICONQUESTION, RunOptions.Launch ? IDYES : IDNO) == IDYES &&
        !StartProgram(run.ProductCommand, 0)) {
        // The installation is complete: unattended, a product that does not start is a warning.
        ShowMessage(run.Backdrop, "Failed to start TALVIQ Project Zorvane", SetupCaption,
                    MB_OK | (IsUnattended() ? MB_ICONWARNING : MB_ICONERROR), IDOK, ExitSuccess);
    }
}

} // namespace

void RunInstall(HWND backdrop)
{
    InstallRun run = {};
    run.Backdrop = backdrop;
    if (PassGuard(run) && ReadDefaults(run) && OpenPackage(run) && ChooseInstallFolder(run) &&
        StartUndoableChanges(run) && MakeDestination(run) && OpenInstallLog(run) &&
        InstallWithProgress(run) && CommitInstall(run)) {
        AskClosingQuestions(run);
        return;
    }
    EndFailedInstall(run);
}

void ConvertOldProjectFile(HWND progress)
{
    char oldFolder[MAX_PATH];
    ReadRegistryString(HKEY_LOCAL_MACHINE, OldUninstallKey, InstallLocationValue, "", oldFolder,
                       sizeof oldFolder);
    if (oldFolder[0] == '\0') {
        WriteLogLine("conversion", "no previous version");
        return;
    }

    bool found = false;
    for (const char* name : {"Zorvane.prm", "Zorvane.prd"}) {
        char dataFile[MAX_PATH];
        lstrcpynA(dataFile, oldFolder, sizeof dataFile);
        if (AppendPathComponent(dataFile, name) && GetFileAttributesA(dataFile) != INVALID_FILE_ATTRIBUTES) {
            found = true;
            break;
        }
    }
    if (!found) {
        WriteLogLine("conversion", "no data of the previous version");
        return;
    }

    SetProgressStatus(progress, "Converting Old Project File...");
    char productCommand[ProductCommandSize];
    if (!FormatProductCommand(productCommand, DestinationFolder))
        return;
    char conversion[ProductCommandSize + MAX_PATH + 4];
    snprintf(conversion, sizeof conversion, "%s /c %s", productCommand, oldFolder);
    StartProgram(conversion, INFINITE);
    WriteLogLine("conversion", oldFolder);
}
