#include "core/AsideFiles.h"

#include "core/InstallJournal.h"
#include "core/PathUtilities.h"
#include "core/ZorvaneException.h"

#include <windows.h>

#include <stdio.h>

bool ChooseAsideName(const char* target, char* aside)
{
    char folder[MAX_PATH];
    char baseName[MAX_PATH];
    char extension[MAX_PATH];
    SplitPath(target, folder, baseName, extension);
    static unsigned next = GetTickCount();
    for (unsigned tries = 0; tries < 0x10000; ++tries) {
        unsigned number = next++ & 0xFFFF;
        if (snprintf(aside, MAX_PATH, "%s~vo%04X.tmp", folder, number) >= MAX_PATH) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return false;
        }
        if (GetFileAttributesA(aside) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND)
            return true;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return false;
}

void SetAside(const char* path, char* aside, BOOL(WINAPI* move)(LPCSTR, LPCSTR, DWORD))
{
    // Recorded ahead under a name still free; otherwise recorded now.
    if (aside[0] == '\0' || GetFileAttributesA(aside) != INVALID_FILE_ATTRIBUTES) {
        if (!ChooseAsideName(path, aside))
            throw ZorvaneException(ErrWriteError, path);
        if (!JournalReplacement(path, aside))
            throw ZorvaneException(ErrWriteError, InstallJournalPath());
    }
    if (!move(path, aside, 0))
        throw ZorvaneException(ErrWriteError, path);
    JournalTraceEvent("rename aside", path);
    JournalChangeDone();
}

void ReleaseAside(const char* aside)
{
    if (!InstallJournalActive())
        DeleteFileA(aside);
}

void PrepareFileChange(const char* path)
{
    if (!InstallJournalActive())
        return;
    DWORD attributes = GetFileAttributesA(path);
    // A folder of that name makes the caller's own write fail, as it always has.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return;
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (!JournalFileCreation(path))
            throw ZorvaneException(ErrWriteError, InstallJournalPath());
        return;
    }
    char aside[MAX_PATH] = "";
    SetAside(path, aside, MoveFileExA);
}
