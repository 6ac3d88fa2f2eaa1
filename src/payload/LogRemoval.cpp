#include "payload/LogRemoval.h"

#include "core/FileAccess.h"
#include "core/HeldFiles.h"
#include "core/InstallJournal.h"
#include "core/PathUtilities.h"
#include "core/ZorvaneException.h"
#include "payload/BootTimeDeletion.h"
#include "payload/InstallLog.h"

#include <stdio.h>
#include <string.h>

#include <memory>
#include <new>

namespace {

const char UninstallerName[] = "Setup.exe";

// A line keeps at most 459 characters; a record never needs more than 260.
const DWORD LogLineSize = 460;

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
// A file held for a moment only (Wine's menu builder reading a shortcut) goes now; one another
// program keeps open goes at the next start.
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
            if (!DeleteWhenLetGo(line + 1, 500) && GetFileAttributesA(line + 1) != INVALID_FILE_ATTRIBUTES)
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

LogRemovalResult RemoveLoggedFiles(HWND owner, const char* installationFolder, bool logDeleted)
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
        return {LogRemovalOutcome::Removed, std::nullopt};
    }
    if (!log)
        return {LogRemovalOutcome::NoLog, std::nullopt};

    AllowedFolders allowed;
    FindAllowedFolders(owner, installationFolder, &allowed);
    try {
        // Files first, so that the folders are empty by the time their chains are removed.
        RemovalPass(*log, FileRecord, allowed);
        log->Seek(0, FILE_BEGIN);
        RemovalPass(*log, FolderRecord, allowed);
    } catch (const ZorvaneException& error) {
        return {LogRemovalOutcome::ReadFailed, error};
    }
    log.reset();
    DeleteFileA(logPath);
    JournalChangeDone();
    RequestUninstallerDeletion(installationFolder);
    JournalChangeDone();
    return {LogRemovalOutcome::Removed, std::nullopt};
}
