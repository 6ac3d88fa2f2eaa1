#include "payload/LogRemoval.h"

#include "core/FileAccess.h"
#include "core/InstallJournal.h"
#include "core/PathUtilities.h"
#include "core/StartMenuFolders.h"
#include "core/UserMessages.h"
#include "core/ZorvaneException.h"
#include "format/PackageFormat.h"
#include "payload/BootTimeDeletion.h"
#include "payload/InstallLog.h"

#include <shlobj.h>
#include <stdio.h>
#include <string.h>

#include <initializer_list>
#include <memory>
#include <new>

namespace {

const char NoLogQuestion[] =
    "Project Zorvane Uninstaller can't remove program files from your system without the "
    "log file.\rDo you wish the Uninstaller to clear the registry entries only?";
const char UninstallCaption[] = "Uninstall";
const char UninstallerName[] = "Setup.exe";

// A line keeps at most 459 characters; a record never needs more than 260.
const DWORD LogLineSize = 460;

// The part of an absolute path after its root (C:\ or \\).
const char* BelowRoot(const char* path) { return path + (path[1] == ':' ? 3 : 2); }

// True when relative is empty or a relative path that stays where it starts (one trailing
// backslash allowed, as folder records of extraction have). relative fits MAX_PATH.
bool StaysBelow(const char* relative)
{
    char work[MAX_PATH];
    lstrcpynA(work, relative, sizeof work);
    size_t length = strlen(work);
    if (length > 0 && work[length - 1] == '\\')
        work[--length] = '\0';
    return length == 0 || IsContainedRelativePath(work);
}

// Keeps folder only when it can be trusted as a boundary: absolute, without "." or "..", its
// separators folded and without its trailing backslash (a drive root keeps it).
void AdoptFolder(char* folder)
{
    size_t length = strnlen(folder, MAX_PATH);
    if (length < MAX_PATH) {
        FoldSeparators(folder);
        length = strlen(folder);
    }
    if (length >= MAX_PATH || !IsAbsolutePath(folder) || !StaysBelow(BelowRoot(folder))) {
        folder[0] = '\0';
        return;
    }
    if (length > 3 && folder[length - 1] == '\\')
        folder[length - 1] = '\0';
}

// True when path is folder itself or lies below it: letter case ignored, and only at a backslash,
// so that C:\Foo2 is not inside C:\Foo. path fits MAX_PATH.
bool IsInside(const char* path, const char* folder)
{
    size_t length = strlen(folder);
    if (length == 0 || strnlen(path, length) < length)
        return false;
    if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path, static_cast<int>(length), folder,
                       static_cast<int>(length)) != CSTR_EQUAL)
        return false;
    const char* rest = path + length;
    if (folder[length - 1] != '\\') {
        if (*rest == '\0')
            return true;
        if (*rest != '\\')
            return false;
        ++rest;
    }
    return StaysBelow(rest);
}

// True when the line just read ended at a line end rather than at a full buffer. After a line end
// the byte before the position is a carriage return or a line feed; after a cut it is the byte
// the reader dropped, which is neither.
bool EndedAtLineEnd(FileReader& log)
{
    if (log.AtEnd())
        return true;
    char previous;
    log.Seek(-1, FILE_CURRENT);
    log.Read(&previous, 1);
    return previous == '\r' || previous == '\n';
}

// Reads the next line of the log into line (LogLineSize bytes). False when the line did not fit:
// the rest of it is read and dropped, so that no part of it counts as a line of its own.
bool ReadWholeLine(FileReader& log, char* line)
{
    bool whole = true;
    for (;;) {
        log.ReadLine(line, LogLineSize);
        if (EndedAtLineEnd(log))
            return whole;
        whole = false;
    }
}

// One pass over the log from its current position: acts on every record of this kind.
void RemovalPass(FileReader& log, char kind, const AllowedFolders& allowed)
{
    char line[LogLineSize];
    while (!log.AtEnd()) {
        if (!ReadWholeLine(log, line) || line[0] != kind)
            continue;
        FoldSeparators(line + 1);
        if (!IsRemovable(line + 1, allowed))
            continue;
        if (kind == FileRecord) {
            // A file another program holds open goes at the next start; one already gone is done.
            if (!DeleteFileA(line + 1) && GetFileAttributesA(line + 1) != INVALID_FILE_ATTRIBUTES)
                LeaveForRestart(line + 1);
        } else
            RemoveFolderChain(line + 1);
        JournalChangeDone();
    }
}

// The uninstaller cannot delete itself while it runs: Windows does, at the next start.
void RequestUninstallerDeletion(const char* installationFolder)
{
    char uninstaller[MAX_PATH];
    lstrcpynA(uninstaller, installationFolder, sizeof uninstaller);
    if (AppendPathComponent(uninstaller, UninstallerName))
        DeleteAtNextRestart(uninstaller);
}

} // namespace

void FindAllowedFolders(HWND owner, const char* installationFolder, AllowedFolders* allowed)
{
    lstrcpynA(allowed->Installation, installationFolder, MAX_PATH);
    AdoptFolder(allowed->Installation);

    UINT length = GetSystemDirectoryA(allowed->System, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        allowed->System[0] = '\0';
    AdoptFolder(allowed->System);

    GetProductStartMenuFolder(owner, CSIDL_PROGRAMS, allowed->StartMenu);
    AdoptFolder(allowed->StartMenu);
    GetProductStartMenuFolder(owner, CSIDL_COMMON_PROGRAMS, allowed->CommonStartMenu);
    AdoptFolder(allowed->CommonStartMenu);
}

// The log is data a user may have been able to change, read by a program with administrator
// rights: only paths within what the installation made are acted on.
bool IsRemovable(const char* path, const AllowedFolders& allowed)
{
    if (strnlen(path, MAX_PATH) >= MAX_PATH || !IsAbsolutePath(path))
        return false;
    for (const char* folder :
         {allowed.Installation, allowed.System, allowed.StartMenu, allowed.CommonStartMenu})
        if (IsInside(path, folder))
            return true;
    return false;
}

bool IsInStartMenu(const char* path, const AllowedFolders& allowed)
{
    return strnlen(path, MAX_PATH) < MAX_PATH &&
           (IsInside(path, allowed.StartMenu) || IsInside(path, allowed.CommonStartMenu));
}

bool NormalizeInstallationFolder(char* folder)
{
    char adopted[MAX_PATH];
    lstrcpynA(adopted, folder, sizeof adopted);
    AdoptFolder(adopted);
    if (adopted[0] == '\0')
        return false;
    memcpy(folder, adopted, strlen(adopted) + 1);
    return true;
}

int RemoveLoggedFiles(HWND owner, const char* installationFolder, bool logDeleted)
{
    char logPath[MAX_PATH];
    lstrcpynA(logPath, installationFolder, sizeof logPath);
    std::unique_ptr<FileReader> log;
    try {
        // A log path that does not fit names no log this program could have written.
        if (AppendPathComponent(logPath, InstallLogName))
            log.reset(new (std::nothrow) FileReader(logPath));
    } catch (const ZorvaneException&) {
    }
    if (!log && logDeleted) {
        RequestUninstallerDeletion(installationFolder);
        return 1;
    }
    if (!log)
        return ShowMessage(owner, NoLogQuestion, UninstallCaption, MB_YESNO | MB_ICONERROR, IDNO) == IDYES
                   ? 1
                   : 0;

    AllowedFolders allowed;
    FindAllowedFolders(owner, installationFolder, &allowed);
    try {
        // Files first, so that the folders are empty by the time their chains are removed.
        RemovalPass(*log, FileRecord, allowed);
        log->Seek(0, FILE_BEGIN);
        RemovalPass(*log, FolderRecord, allowed);
    } catch (const ZorvaneException& error) {
        log.reset();
        ShowError(error, owner);
        return 0;
    }
    log.reset();
    DeleteFileA(logPath);
    JournalChangeDone();
    RequestUninstallerDeletion(installationFolder);
    JournalChangeDone();
    return 1;
}
