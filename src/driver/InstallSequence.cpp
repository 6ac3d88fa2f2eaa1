#include "driver/InstallSequence.h"

#include "core/AsideFiles.h"
#include "core/DiagnosticLog.h"
#include "core/FileAccess.h"
#include "core/InstallJournal.h"
#include "core/PathUtilities.h"
#include "core/ProductTexts.h"
#include "core/UserMessages.h"
#include "core/ZorvaneException.h"
#include "driver/InstallRollback.h"
#include "driver/PackageInstall.h"
#include "driver/ProgramStart.h"
#include "driver/RunOutcome.h"
#include "driver/RunningInstanceGuard.h"
#include "core/SetupState.h"
#include "payload/BootTimeDeletion.h"
#include "payload/InstallLog.h"
#include "payload/LogRemoval.h"
#include "payload/EntryPlacement.h"
#include "system/ProductRegistration.h"
#include "system/Registry.h"
#include "system/Shortcuts.h"
#include "ui/DestinationChoice.h"
#include "ui/InstallWizard.h"
#include "ui/ProgressDisplay.h"

#include <shlobj.h>
#include <stdio.h>
#include <string.h>

#include <initializer_list>
#include <memory>
#include <new>

namespace {

const char ProductProgramName[] = "tpz2.exe";
const char UninstallerName[] = "Setup.exe";
const DWORD RegistrationWaitMs = 10000;

// Every name the sequence itself joins to the destination; the longest decides whether the
// destination can take them all.
const char* const DestinationNames[] = {InstallLogName, UninstallerName, ProductProgramName, "Wendlor.exe"};

// True when every name the installation forms inside DestinationFolder fits MAX_PATH, and an
// existing file there can be replaced (which needs room for a temporary name beside it).
bool DestinationHoldsItsNames()
{
    static_assert(InstallFolderLimit + 1 == ReplaceableFolderLength, "one limit for the installation folder");
    if (strnlen(DestinationFolder, MAX_PATH) > InstallFolderLimit)
        return false;
    for (const char* name : DestinationNames) {
        char path[MAX_PATH];
        lstrcpynA(path, DestinationFolder, sizeof path);
        if (!AppendPathComponent(path, name))
            return false;
    }
    return true;
}

void ShowDestinationTooLong(HWND owner)
{
    char text[MAX_PATH + 128];
    snprintf(text, sizeof text,
             "The destination folder's name is too long:\r%s\rPlease choose a folder with a shorter name.",
             DestinationFolder);
    ShowMessage(owner, text, SetupCaption, MB_OK | MB_ICONERROR, IDOK, ExitFailure);
}

// The running program's own file. Throws ErrFileNotFound naming what the system gave when the
// path does not fit MAX_PATH.
void GetOwnProgramPath(char* path)
{
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        path[MAX_PATH - 1] = '\0';
        throw ZorvaneException(ErrFileNotFound, path);
    }
}

// The error for a package path that does not fit MAX_PATH (a program renamed to a longer name
// without an extension): it names the package meant, this program's path with the extension "z".
ZorvaneException PackagePathTooLong()
{
    char path[4 * MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return PathTooLong(ErrUnableToOpen, "Setup.z");
    char* name = strrchr(path, '\\');
    name = name == nullptr ? path : name + 1;
    char* dot = strrchr(name, '.');
    if (dot == nullptr || dot == name) // a name whose only dot leads is all base name
        dot = path + length;
    snprintf(dot, sizeof path - (dot - path), ".z");
    return PathTooLong(ErrUnableToOpen, path);
}

// The folder of the product installed before, into folder (MAX_PATH bytes), when its entry names
// one the uninstaller would accept and the install could use; false otherwise.
bool ReadInstalledFolder(char* folder)
{
    ReadRegistryString(HKEY_LOCAL_MACHINE, UninstallKey, InstallLocationValue, "", folder, MAX_PATH);
    return folder[0] != '\0' && NormalizeInstallationFolder(folder) && strlen(folder) <= InstallFolderLimit;
}

// True when this process runs as the local system account, as management agents run installers:
// its own Start menu is seen by nobody.
bool RunsAsSystemAccount()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    union {
        TOKEN_USER User;
        BYTE Room[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } info;
    DWORD size = 0;
    bool system = GetTokenInformation(token, TokenUser, &info, sizeof info, &size) &&
                  IsWellKnownSid(info.User.User.Sid, WinLocalSystemSid);
    CloseHandle(token);
    return system;
}

void StopIfRequested()
{
    if (StopRequested())
        throw ZorvaneException(ErrOwnText, CancelledText);
}

// Copies this program to the uninstaller's path. Started from that very file (a reinstall run
// from the installation folder, under whatever spelling of its path) there is nothing to copy.
void CopySelfAsUninstaller(const char* uninstallerPath)
{
    char ownPath[MAX_PATH];
    GetOwnProgramPath(ownPath);
    if (IsSameFile(ownPath, uninstallerPath)) {
        WriteLogLine("self-copy", "started from the uninstaller itself, nothing to copy");
        return;
    }
    PrepareFileChange(uninstallerPath);
    if (!CopyFileA(ownPath, uninstallerPath, FALSE))
        throw ZorvaneException(ErrWriteError, uninstallerPath);
    JournalFileMade(uninstallerPath);
    WriteLogLine("self-copy", uninstallerPath);
}

// Runs the product's COM registration and logs how it ended. One that cannot be started is
// reported; unattended, so is one still running when the wait ends (it is ended then, so that an
// undo can remove its file): either fails the run.
void RegisterProduct(HWND backdrop, const char* registration)
{
    DWORD exitCode = STILL_ACTIVE;
    if (StartProgram(registration, RegistrationWaitMs, &exitCode, IsUnattended())) {
        char outcome[64];
        DescribeProgramEnd(outcome, sizeof outcome, exitCode, RegistrationWaitMs);
        WriteLogLine("/RegServer", outcome);
        if (exitCode != STILL_ACTIVE || !IsUnattended())
            return;
    }
    ShowMessage(backdrop, RegistrationFailedText, SetupCaption, MB_OK | MB_ICONERROR, IDOK, ExitFailure);
}

// True when path names a file of the new installation: one its log lists, its uninstaller or its
// log. A request to delete it at the next start was made before this run and would break it.
bool IsFileOfInstallation(const char* path)
{
    // Most requests name files long gone, which none of the comparisons below could match.
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        return false;
    if (NamesLoggedFile(path))
        return true;
    for (const char* name : {UninstallerName, InstallLogName}) {
        char own[MAX_PATH];
        lstrcpynA(own, DestinationFolder, sizeof own);
        if (AppendPathComponent(own, name) && IsSameFile(path, own))
            return true;
    }
    return false;
}

// Steps done while the progress dialog is shown; any ZorvaneException leaves them.
void InstallWithProgress(HWND backdrop, HWND progress, FileReader& package, FileWriter& log,
                         const char* productCommand)
{
    WriteLogRecord(log, FolderRecord, DestinationFolder);
    // Files an uninstall before this run left for the restart, which this run must keep whole.
    NoteRestartDeletions();
    ExtractPackage(progress, package, log, StopRequested);
    WriteLogLine("extraction", "done");
    // What earlier installs here made and this one leaves in place stays the uninstall's to remove.
    AllowedFolders allowed;
    FindAllowedFolders(backdrop, DestinationFolder, &allowed);
    WriteCountLine("Setup.log", CarryEarlierRecords(log, allowed, CarriedPart::Installed),
                   "records of the earlier log carried");
    // The files that replaced old ones reach the disk while the registration goes on.
    StartFlushingReplacingFiles();
    StopIfRequested();

    SetProgressStatus(progress, "Creating Registry Keys...");
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

    SetProgressStatus(progress, "Creating Shortcuts...");
    StopIfRequested();
    char linkPath[MAX_PATH];
    char targetPath[MAX_PATH];
    // Where every user sees them when asked, or when the system account installs: its own Start
    // menu is nobody's.
    const bool allUsers = RunOptions.AllUsers || RunsAsSystemAccount();
    CreateStartMenuShortcuts(backdrop, allUsers ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS, log, linkPath,
                             targetPath);
    WriteLogLine("shortcuts", allUsers ? "created for all users" : "created");
    WriteCountLine("Setup.log", CarryEarlierRecords(log, allowed, CarriedPart::Shortcuts),
                   "records of the earlier log carried");
    // The log's last record is written: what the run left of it is known now.
    JournalFileMade(log.FileName);
    StopIfRequested();
    // The flushing holds the files it flushes open for writing: the product's program must be free.
    WaitForReplacingFiles();

    char registration[ProductCommandSize];
    snprintf(registration, sizeof registration, "%s /RegServer", productCommand);
    SetProgressStatus(progress, "Registering COM server...");
    RegisterProduct(backdrop, registration);

    StopIfRequested();
    ConvertOldProjectFile(progress);
}

// After the commit, so that an undone run leaves the requests of the uninstall before it in place.
void WithdrawEarlierRestartDeletions()
{
    WriteCountLine("deletions at the next restart", WithdrawRestartDeletions(IsFileOfInstallation),
                   "withdrawn for files of this installation");
}

} // namespace

void RunInstall(HWND backdrop)
{
    char installed[MAX_PATH];
    const bool isInstalled = ReadInstalledFolder(installed);
    char productProgram[MAX_PATH];
    lstrcpynA(productProgram, installed, sizeof productProgram);
    const bool programNamed = isInstalled && AppendPathComponent(productProgram, ProductProgramName);
    if (!WaitForProductExit(backdrop, GuardMode::Install, programNamed ? productProgram : nullptr))
        return;
    WriteLogLine("guard", "the product is not running");

    ReadRegistryString(HKEY_LOCAL_MACHINE, CurrentVersionKey, ProgramFilesDirValue, DefaultProgramFilesDir,
                       DestinationFolder, sizeof DestinationFolder);
    ReadRegistryString(HKEY_LOCAL_MACHINE, CurrentVersionKey, RegisteredOwnerValue, "", RegisteredOwnerName,
                       sizeof RegisteredOwnerName);
    WriteLogLine("defaults", DestinationFolder);

    std::unique_ptr<FileReader> package;
    try {
        char packagePath[MAX_PATH];
        if (!PathBesideProgram(packagePath, "z", false))
            throw PackagePathTooLong();
        package.reset(new (std::nothrow) FileReader(packagePath));
        if (!package)
            throw ZorvaneException(ErrNotEnoughMemory);
        WriteLogLine("package", packagePath);
    } catch (const ZorvaneException& error) {
        ShowError(error, backdrop, ExitPackageUnopenable);
        return;
    }

    // An upgrade goes where the product is, unless /dir names another folder; the entry then
    // follows the new folder and the old one is left as it is.
    const char* folder = RunOptions.Folder[0] != '\0' ? RunOptions.Folder : isInstalled ? installed : nullptr;
    if (folder == installed)
        WriteLogLine("installed product", installed);
    int finished = ChooseDestination(backdrop, folder);
    if (finished < 0) {
        // The wizard could not be shown at all: that is no consent to install.
        ShowError(ZorvaneException(ErrUnableToShowDialog, ": comctl32.dll"), backdrop);
        return;
    }
    if (finished == 0) {
        ShowMessage(backdrop, "Setup aborted.", SetupCaption, MB_OK, IDOK, ExitFailure);
        return;
    }
    WriteLogLine("destination", DestinationFolder);
    if (!DestinationHoldsItsNames()) {
        ShowDestinationTooLong(backdrop);
        return;
    }

    // Only now, the product not running and the run going on to change the machine, is a journal
    // left behind acted on.
    LeftUninstall leftUninstall;
    if (!RecoverInterruptedRun(backdrop, &leftUninstall) || !StartInstallUndo(backdrop))
        return;
    if (!CreateFolderChain(DestinationFolder)) {
        package.reset();
        char text[MAX_PATH + 32];
        snprintf(text, sizeof text, "Failed to create folder %s", DestinationFolder);
        ShowMessage(backdrop, text, SetupCaption, MB_OK | MB_ICONERROR, IDOK, ExitFailure);
        UndoInstall(backdrop);
        return;
    }
    WriteLogLine("destination folder", "in place");

    std::unique_ptr<FileWriter> log;
    try {
        char logPath[MAX_PATH];
        lstrcpynA(logPath, DestinationFolder, sizeof logPath);
        AppendPathComponent(logPath, InstallLogName); // fits: DestinationHoldsItsNames
        // Read before the old log is set aside, which keeps it for an undo byte for byte.
        BeginRunLog(logPath);
        PrepareFileChange(logPath);
        log.reset(new (std::nothrow) FileWriter(logPath));
        if (!log)
            throw ZorvaneException(ErrNotEnoughMemory);
    } catch (const ZorvaneException& error) {
        package.reset();
        ShowError(error, backdrop);
        UndoInstall(backdrop);
        return;
    }
    WriteLogLine("Setup.log", "created");

    char productCommand[ProductCommandSize];
    FormatProductCommand(productCommand, DestinationFolder); // fits: DestinationHoldsItsNames

    HWND progress = CreateProgressDisplay(backdrop);
    try {
        InstallWithProgress(backdrop, progress, *package, *log, productCommand);
    } catch (const ZorvaneException& error) {
        CloseProgressDisplay(progress);
        log.reset();
        const int exitCode = FailureExitCode(error, package->FileName);
        package.reset();
        ShowError(error, backdrop, exitCode);
        UndoInstall(backdrop);
        return;
    }
    CloseProgressDisplay(progress);
    // Unattended, a failure the interactive run reports and goes on from ends the run undone.
    if (UnattendedRunFailed()) {
        log.reset();
        UndoInstall(backdrop);
        return;
    }
    // The last change that can fail is made: the install commits, and no later run undoes it. The
    // Run value and the product's start the questions lead to are no part of it.
    log.reset();
    FinishInstall();
    WithdrawEarlierRestartDeletions();

    if (ShowMessage(
            backdrop, "Setup complete.\rDo you wish TALVIQ Project Zorvane to run each time Windows starts?",
            SetupCaption, MB_YESNO | MB_ICONQUESTION, RunOptions.RunAtStartup ? IDYES : IDNO) == IDYES)
        WriteRegistryString(HKEY_LOCAL_MACHINE, RunKey, RunValueName, productCommand);

    if (ShowMessage(backdrop, "Do you want to start TALVIQ Project Zorvane 2 Demo right now?", SetupCaption,
                    MB_YESNO | MB_ICONQUESTION, RunOptions.Launch ? IDYES : IDNO) == IDYES &&
        !StartProgram(productCommand, 0)) {
        // The installation is complete: unattended, a product that does not start is a warning.
        ShowMessage(backdrop, "Failed to start TALVIQ Project Zorvane", SetupCaption,
                    MB_OK | (IsUnattended() ? MB_ICONWARNING : MB_ICONERROR), IDOK, ExitSuccess);
    }
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
