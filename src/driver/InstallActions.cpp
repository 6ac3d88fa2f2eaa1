#include "driver/InstallActions.h"

#include "core/AsideFiles.h"
#include "core/DiagnosticLog.h"
#include "core/InstallJournal.h"
#include "core/PathUtilities.h"
#include "core/ProductTexts.h"
#include "core/SetupState.h"
#include "core/UserMessages.h"
#include "driver/ProgramStart.h"
#include "driver/RunOptions.h"
#include "driver/UserMessages.h"
#include "payload/BootTimeDeletion.h"
#include "payload/EntryPlacement.h"
#include "payload/InstallLog.h"
#include "payload/LogRemoval.h"
#include "system/ProductRegistration.h"
#include "system/Registry.h"
#include "ui/InstallWizard.h"

#include <stdio.h>
#include <string.h>

#include <initializer_list>

extern const char ProductProgramName[] = "tpz2.exe";
extern const char UninstallerName[] = "Setup.exe";

namespace {

const DWORD RegistrationWaitMs = 10000;

// Every name the sequence itself joins to the destination; the longest decides whether the
// destination can take them all.
const char* const DestinationNames[] = {InstallLogName, UninstallerName, ProductProgramName, "Wendlor.exe"};

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

} // namespace

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

int ChooseDestination(HWND owner, const char* folder)
{
    if (folder != nullptr)
        lstrcpynA(DestinationFolder, folder, sizeof DestinationFolder);
    if (!IsUnattended())
        return RunInstallWizard(owner, folder != nullptr);
    // A given folder is the installation folder itself: an administrator chose it whole, or the
    // installed product lives there.
    if (folder != nullptr)
        return 1;
    return AppendPathComponent(DestinationFolder, ProductFolderSuffix) ? 1 : 0;
}

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

bool ReadInstalledFolder(char* folder)
{
    ReadRegistryString(HKEY_LOCAL_MACHINE, UninstallKey, InstallLocationValue, "", folder, MAX_PATH);
    return folder[0] != '\0' && NormalizeInstallationFolder(folder) && strlen(folder) <= InstallFolderLimit;
}

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

void WithdrawEarlierRestartDeletions()
{
    WriteCountLine("deletions at the next restart", WithdrawRestartDeletions(IsFileOfInstallation),
                   "withdrawn for files of this installation");
}
