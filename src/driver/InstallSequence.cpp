#include "driver/InstallSequence.h"

#include "core/FileAccess.h"
#include "core/PathUtilities.h"
#include "core/ZorvaneException.h"
#include "driver/ProgramStart.h"
#include "driver/RunningInstanceGuard.h"
#include "core/SetupState.h"
#include "payload/InstallLog.h"
#include "payload/PackageExtraction.h"
#include "system/ProductRegistration.h"
#include "system/Registry.h"
#include "system/Shortcuts.h"
#include "ui/InstallWizard.h"
#include "ui/ProgressDisplay.h"

#include <stdio.h>
#include <string.h>

#include <initializer_list>
#include <memory>
#include <new>

namespace {

const char SetupCaption[] = "Setup";
const char ProductProgramName[] = "tpz2.exe";
const char UninstallerName[] = "Setup.exe";
const DWORD RegistrationWaitMs = 10000;

// Every name the sequence itself joins to the destination; the longest decides whether the
// destination can take them all.
const char* const DestinationNames[] = {InstallLogName, UninstallerName, ProductProgramName, "Wendlor.exe"};

// True when every name the installation forms inside DestinationFolder fits MAX_PATH.
bool DestinationHoldsItsNames()
{
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
    MessageBoxA(owner, text, SetupCaption, MB_OK | MB_ICONERROR);
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

// Copies this program to the uninstaller's path. Started from that very file (a reinstall run
// from the installation folder) there is nothing to copy.
void CopySelfAsUninstaller(const char* uninstallerPath)
{
    char ownPath[MAX_PATH];
    GetOwnProgramPath(ownPath);
    if (lstrcmpiA(ownPath, uninstallerPath) == 0)
        return;
    if (!CopyFileA(ownPath, uninstallerPath, FALSE))
        throw ZorvaneException(ErrWriteError, uninstallerPath);
}

// Steps done while the progress dialog is shown; any ZorvaneException leaves them.
void InstallWithProgress(HWND backdrop, HWND progress, FileReader& package, FileWriter& log,
                         const char* productCommand)
{
    WriteLogRecord(log, FolderRecord, DestinationFolder);
    ExtractPackage(progress, package, log);

    SetProgressStatus(progress, "Creating Registry Keys...");
    char uninstallerPath[MAX_PATH];
    lstrcpynA(uninstallerPath, DestinationFolder, sizeof uninstallerPath);
    AppendPathComponent(uninstallerPath, UninstallerName); // fits: DestinationHoldsItsNames
    WriteProductRegistration(uninstallerPath);
    CopySelfAsUninstaller(uninstallerPath);

    SetProgressStatus(progress, "Creating Shortcuts...");
    char linkPath[MAX_PATH];
    char targetPath[MAX_PATH];
    CreateStartMenuShortcuts(backdrop, log, linkPath, targetPath);

    char registration[ProductCommandSize];
    snprintf(registration, sizeof registration, "%s /RegServer", productCommand);
    SetProgressStatus(progress, "Registering COM server...");
    if (!StartProgram(registration, RegistrationWaitMs))
        MessageBoxA(backdrop, "Failed to register TALVIQ Project Zorvane with Windows registry", SetupCaption,
                    MB_OK | MB_ICONERROR);

    ConvertOldProjectFile(progress);
}

} // namespace

void RunInstall(HWND backdrop)
{
    if (!WaitForProductExit(backdrop, GuardMode::Install))
        return;

    ReadRegistryString(HKEY_LOCAL_MACHINE, CurrentVersionKey, ProgramFilesDirValue, DefaultProgramFilesDir,
                       DestinationFolder, sizeof DestinationFolder);
    ReadRegistryString(HKEY_LOCAL_MACHINE, CurrentVersionKey, RegisteredOwnerValue, "", RegisteredOwnerName,
                       sizeof RegisteredOwnerName);

    std::unique_ptr<FileReader> package;
    try {
        char packagePath[MAX_PATH];
        if (!PathBesideProgram(packagePath, "z", false)) {
            GetOwnProgramPath(packagePath);
            throw ZorvaneException(ErrFileNotFound, packagePath);
        }
        package.reset(new (std::nothrow) FileReader(packagePath));
        if (!package)
            throw ZorvaneException(ErrNotEnoughMemory);
    } catch (const ZorvaneException& error) {
        ShowError(error, backdrop);
        return;
    }

    if (RunInstallWizard(backdrop) == 0) {
        MessageBoxA(backdrop, "Setup aborted.", SetupCaption, MB_OK);
        return;
    }
    if (!DestinationHoldsItsNames()) {
        ShowDestinationTooLong(backdrop);
        return;
    }

    if (!CreateFolderChain(DestinationFolder)) {
        package.reset();
        char text[MAX_PATH + 32];
        snprintf(text, sizeof text, "Failed to create folder %s", DestinationFolder);
        MessageBoxA(backdrop, text, SetupCaption, MB_OK | MB_ICONERROR);
        return;
    }

    std::unique_ptr<FileWriter> log;
    try {
        char logPath[MAX_PATH];
        lstrcpynA(logPath, DestinationFolder, sizeof logPath);
        AppendPathComponent(logPath, InstallLogName); // fits: DestinationHoldsItsNames
        log.reset(new (std::nothrow) FileWriter(logPath));
        if (!log)
            throw ZorvaneException(ErrNotEnoughMemory);
    } catch (const ZorvaneException& error) {
        package.reset();
        ShowError(error, backdrop);
        return;
    }

    char productCommand[ProductCommandSize];
    FormatProductCommand(productCommand, DestinationFolder); // fits: DestinationHoldsItsNames

    HWND progress = CreateProgressDisplay(backdrop);
    try {
        InstallWithProgress(backdrop, progress, *package, *log, productCommand);
    } catch (const ZorvaneException& error) {
        DestroyWindow(progress);
        log.reset();
        package.reset();
        ShowError(error, backdrop);
        return;
    }
    DestroyWindow(progress);

    if (MessageBoxA(backdrop,
                    "Setup complete.\rDo you wish TALVIQ Project Zorvane to run each time Windows starts?",
                    SetupCaption, MB_YESNO | MB_ICONQUESTION) == IDYES)
        WriteRegistryString(HKEY_LOCAL_MACHINE, RunKey, RunValueName, productCommand);

    if (MessageBoxA(backdrop, "Do you want to start TALVIQ Project Zorvane 2 Demo right now?", SetupCaption,
                    MB_YESNO | MB_ICONQUESTION) == IDYES &&
        !StartProgram(productCommand, 0))
        MessageBoxA(backdrop, "Failed to start TALVIQ Project Zorvane", SetupCaption, MB_OK | MB_ICONERROR);
}

void ConvertOldProjectFile(HWND progress)
{
    char oldFolder[MAX_PATH];
    ReadRegistryString(HKEY_LOCAL_MACHINE, OldUninstallKey, InstallLocationValue, "", oldFolder,
                       sizeof oldFolder);
    if (oldFolder[0] == '\0')
        return;

    bool found = false;
    for (const char* name : {"Zorvane.prm", "Zorvane.prd"}) {
        char dataFile[MAX_PATH];
        lstrcpynA(dataFile, oldFolder, sizeof dataFile);
        if (AppendPathComponent(dataFile, name) && GetFileAttributesA(dataFile) != INVALID_FILE_ATTRIBUTES) {
            found = true;
            break;
        }
    }
    if (!found)
        return;

    SetProgressStatus(progress, "Converting Old Project File...");
    char productCommand[ProductCommandSize];
    if (!FormatProductCommand(productCommand, DestinationFolder))
        return;
    char conversion[ProductCommandSize + MAX_PATH + 4];
    snprintf(conversion, sizeof conversion, "%s /c %s", productCommand, oldFolder);
    StartProgram(conversion, INFINITE);
}
