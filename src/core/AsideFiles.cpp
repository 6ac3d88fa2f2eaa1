#include "core/AsideFiles.h"

#include "core/HeldFiles.h"
#include "core/InstallJournal.h"
#include "core/PathUtilities.h"
#include "core/ZorvaneException.h"

#include <windows.h>

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// The "~vo" names a folder held when the run first chose one there (ChooseAsideName).
struct AsideFolder {
    char Folder[MAX_PATH];
    int Count; // -1: too many to keep, each name is looked at
    unsigned short Taken[16];
};
const int AsideFolderRoom = 64;
AsideFolder* AsideFolders;
int AsideFolderCount;
unsigned AsideChoices;
unsigned KnownRun; // JournalRun of what is known

// True for "~vo", four hex digits and ".tmp", letter case ignored; the number into number.
bool IsAsideName(const char* name, unsigned* number)
{
    if (strlen(name) != 11 || _strnicmp(name, "~vo", 3) != 0 || lstrcmpiA(name + 7, ".tmp") != 0)
        return false;
    for (int i = 3; i < 7; ++i)
        if (!isxdigit(static_cast<unsigned char>(name[i])))
            return false;
    *number = static_cast<unsigned>(strtoul(name + 3, nullptr, 16));
    return true;
}

// What folder held, listed now if it is new to the run; null when it cannot be known.
const AsideFolder* KnownAsides(const char* folder)
{
    if (!InstallJournalActive())
        return nullptr;
    if (KnownRun != JournalRun()) {
        KnownRun = JournalRun();
        AsideFolderCount = 0;
        AsideChoices = 0;
    }
    if (AsideChoices >= 0x10000)
        return nullptr;
    for (int i = 0; i < AsideFolderCount; ++i)
        if (lstrcmpiA(AsideFolders[i].Folder, folder) == 0)
            return &AsideFolders[i];
    if (AsideFolders == nullptr)
        AsideFolders =
            static_cast<AsideFolder*>(HeapAlloc(GetProcessHeap(), 0, AsideFolderRoom * sizeof(AsideFolder)));
    char pattern[MAX_PATH];
    if (AsideFolders == nullptr || AsideFolderCount == AsideFolderRoom ||
        snprintf(pattern, sizeof pattern, "%s~vo*.tmp", folder) >= static_cast<int>(sizeof pattern))
        return nullptr;
    AsideFolder* known = &AsideFolders[AsideFolderCount];
    known->Count = 0;
    WIN32_FIND_DATAA found;
    HANDLE listing = FindFirstFileA(pattern, &found);
    if (listing == INVALID_HANDLE_VALUE) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_NO_MORE_FILES)
            return nullptr;
    } else {
        do {
            unsigned number;
            if (!IsAsideName(found.cFileName, &number))
                continue;
            if (known->Count == static_cast<int>(sizeof known->Taken / sizeof known->Taken[0])) {
                known->Count = -1;
                break;
            }
            known->Taken[known->Count++] = static_cast<unsigned short>(number);
        } while (FindNextFileA(listing, &found));
        FindClose(listing);
    }
    lstrcpynA(known->Folder, folder, MAX_PATH);
    ++AsideFolderCount;
    return known;
}

bool IsTaken(const AsideFolder& known, unsigned number)
{
    for (int i = 0; i < known.Count; ++i)
        if (known.Taken[i] == number)
            return true;
    return false;
}

} // namespace

bool ChooseAsideName(const char* target, char* aside)
{
    char folder[MAX_PATH];
    char baseName[MAX_PATH];
    char extension[MAX_PATH];
    SplitPath(target, folder, baseName, extension);
    static unsigned next = GetTickCount();
    const AsideFolder* known = KnownAsides(folder);
    for (unsigned tries = 0; tries < 0x10000; ++tries) {
        unsigned number = next++ & 0xFFFF;
        if (snprintf(aside, MAX_PATH, "%s~vo%04X.tmp", folder, number) >= MAX_PATH) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return false;
        }
        if (known != nullptr && known->Count >= 0) {
            if (IsTaken(*known, number))
                continue;
            ++AsideChoices;
            return true;
        }
        if (GetFileAttributesA(aside) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND)
            return true;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return false;
}

void SetAside(const char* path, char* aside, int* replacement, BOOL(WINAPI* move)(LPCSTR, LPCSTR, DWORD))
{
    // Under the name recorded ahead, unless something took it since: the rename itself refuses a
    // name in use (a look for a missing name first would read the whole folder on some systems).
    bool moved = aside[0] != '\0' && move(path, aside, 0);
    if (!moved && aside[0] != '\0' && GetLastError() != ERROR_ALREADY_EXISTS &&
        GetLastError() != ERROR_FILE_EXISTS)
        throw ZorvaneException(ErrWriteError, path);
    if (!moved) {
        // Another name, recorded now; the record made ahead is one whose rename was never made.
        if (aside[0] != '\0' && !JournalReplacementWithdrawn(path, aside))
            throw ZorvaneException(ErrWriteError, InstallJournalPath());
        if (!ChooseAsideName(path, aside))
            throw ZorvaneException(ErrWriteError, path);
        if (!JournalReplacement(path, aside, replacement))
            throw ZorvaneException(ErrWriteError, InstallJournalPath());
        if (!move(path, aside, 0))
            throw ZorvaneException(ErrWriteError, path);
    }
    JournalAsideMade(*replacement, path);
}

void ReleaseAside(const char* aside)
{
    if (!InstallJournalActive())
        DeleteFileA(aside);
}

namespace {

// A file the run itself made moments ago may still be read by a helper of the system (Wine's menu
// builder reads each new shortcut): such a hold ends within moments, so the rename is tried again.
BOOL WINAPI MoveSoon(LPCSTR from, LPCSTR to, DWORD flags) { return MoveWhenLetGo(from, to, flags, 2000); }

} // namespace

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
    int replacement = -1;
    SetAside(path, aside, &replacement, MoveSoon);
}
