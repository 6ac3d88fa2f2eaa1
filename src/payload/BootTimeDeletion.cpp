#include "payload/BootTimeDeletion.h"

#include "core/DiagnosticLog.h"
#include "core/FileAccess.h"
#include "core/PathUtilities.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <initializer_list>

namespace {

unsigned LeftForRestart = 0;

const char SectionLine[] = "[rename]";
// A line of the existing file keeps at most 1023 characters; the rest of it is dropped.
const DWORD IniLineSize = 1024;

HANDLE OpenExclusive(const char* path, DWORD access, DWORD disposition)
{
    return CreateFileA(path, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool ReadToItsEnd(HANDLE file)
{
    return SetFilePointer(file, 0, nullptr, FILE_CURRENT) == GetFileSize(file, nullptr);
}

// A fresh Wininit.ini with the section and the line. Never replaces a file of that name: the
// open may have failed for a file that exists but is held by someone else.
void CreateWithSection(const char* iniPath, const char* line)
{
    HANDLE ini = OpenExclusive(iniPath, GENERIC_WRITE, CREATE_NEW);
    if (ini == INVALID_HANDLE_VALUE)
        return;
    bool complete = WriteRawLine(ini, SectionLine) && WriteRawLine(ini, line);
    CloseHandle(ini);
    if (!complete)
        DeleteFileA(iniPath);
}

// Copies the whole of ini into copy, line by line, with the line of context below every section
// line and the section appended when there was none. False when a write failed or the file was
// not read to its end (a read error ends the copy just as the end of the file does).
bool InsertBelowSections(HANDLE ini, HANDLE copy, const void* context)
{
    const char* line = static_cast<const char*>(context);
    char text[IniLineSize];
    bool sectionFound = false;
    while (ReadRawLine(ini, text, sizeof text)) {
        if (!WriteRawLine(copy, text))
            return false;
        if (lstrcmpA(text, SectionLine) == 0) {
            if (!WriteRawLine(copy, line))
                return false;
            sectionFound = true;
        }
    }
    if (!ReadToItsEnd(ini))
        return false;
    if (!sectionFound)
        return WriteRawLine(copy, nullptr) && WriteRawLine(copy, SectionLine) && WriteRawLine(copy, line);
    return true;
}

// Replaces the file at iniPath, open as ini, by a working copy at copyPath that edit writes from
// it; false from edit drops the copy. Wininit.ini is replaced in one step, so that a refused
// replacement leaves the former file whole. Closes ini; true when the file was replaced.
bool EditThroughWorkingCopy(const char* iniPath, const char* copyPath, HANDLE ini,
                            bool (*edit)(HANDLE ini, HANDLE copy, const void* context), const void* context)
{
    HANDLE copy = OpenExclusive(copyPath, GENERIC_WRITE, CREATE_ALWAYS);
    if (copy == INVALID_HANDLE_VALUE) {
        CloseHandle(ini);
        return false;
    }
    bool complete = edit(ini, copy, context);
    CloseHandle(copy);
    CloseHandle(ini);
    if (complete && MoveFileExA(copyPath, iniPath, MOVEFILE_REPLACE_EXISTING))
        return true;
    DeleteFileA(copyPath);
    return false;
}

// Fills both paths (MAX_PATH bytes each) in windowsFolder; false when one does not fit.
bool FormWininitPaths(const char* windowsFolder, char* iniPath, char* copyPath)
{
    lstrcpynA(iniPath, windowsFolder, MAX_PATH);
    lstrcpynA(copyPath, windowsFolder, MAX_PATH);
    return AppendPathComponent(iniPath, "Wininit.ini") && AppendPathComponent(copyPath, "Wininit.~in");
}

// The text without the blanks around it, in place.
char* Trimmed(char* text)
{
    while (*text == ' ' || *text == '\t')
        ++text;
    size_t length = strlen(text);
    while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '\t'))
        text[--length] = '\0';
    return text;
}

// The path of a deletion request in line (as the system reads the section: key and section name
// in any case, blanks around them ignored), or null when line is none. line is changed.
const char* DeletedPath(char* line)
{
    char* equals = strchr(line, '=');
    if (equals == nullptr)
        return nullptr;
    *equals = '\0';
    if (lstrcmpiA(Trimmed(line), "NUL") != 0)
        return nullptr;
    return Trimmed(equals + 1);
}

// The path of the deletion request that line (a line of Wininit.ini, changed here) makes, or null;
// *inSection tells whether the line lies in a "[rename]" section and follows a section line.
const char* RenameSectionDeletion(char* line, bool* inSection)
{
    char* trimmed = Trimmed(line);
    if (trimmed[0] == '[') {
        *inSection = lstrcmpiA(trimmed, SectionLine) == 0;
        return nullptr;
    }
    return *inSection ? DeletedPath(trimmed) : nullptr;
}

// Reads ini from its start to its end, line by line; each line goes to take, with the path of the
// deletion it requests (or null). False when take refused a line or the file was not read to its
// end.
bool ForEachWininitLine(HANDLE ini, bool (*take)(const char* text, const char* deleted, void* context),
                        void* context)
{
    SetFilePointer(ini, 0, nullptr, FILE_BEGIN);
    char text[IniLineSize];
    bool inSection = false;
    while (ReadRawLine(ini, text, sizeof text)) {
        char work[IniLineSize];
        lstrcpynA(work, text, sizeof work);
        if (!take(text, RenameSectionDeletion(work, &inSection), context))
            return false;
    }
    return ReadToItsEnd(ini);
}

struct Withdrawal {
    bool (*IsWithdrawn)(const char* path);
    int Count;
    HANDLE Copy;
};

bool CountWithdrawn(const char*, const char* deleted, void* context)
{
    Withdrawal* withdrawal = static_cast<Withdrawal*>(context);
    if (deleted != nullptr && withdrawal->IsWithdrawn(deleted))
        ++withdrawal->Count;
    return true;
}

bool CopyUnlessWithdrawn(const char* text, const char* deleted, void* context)
{
    Withdrawal* withdrawal = static_cast<Withdrawal*>(context);
    return (deleted != nullptr && withdrawal->IsWithdrawn(deleted)) || WriteRawLine(withdrawal->Copy, text);
}

// Copies ini into copy without the deletion requests of the "[rename]" sections that the
// withdrawal takes. False when a write failed or the file was not read to its end.
bool DropWithdrawnDeletions(HANDLE ini, HANDLE copy, const void* context)
{
    Withdrawal* withdrawal = static_cast<Withdrawal*>(const_cast<void*>(context));
    withdrawal->Copy = copy;
    return ForEachWininitLine(ini, CopyUnlessWithdrawn, withdrawal);
}

} // namespace

void AddWininitRenameLine(const char* line)
{
    char windowsFolder[MAX_PATH];
    UINT length = GetWindowsDirectoryA(windowsFolder, sizeof windowsFolder);
    if (length == 0 || length >= sizeof windowsFolder)
        return;
    AddWininitRenameLineIn(windowsFolder, line);
}

void AddWininitRenameLineIn(const char* windowsFolder, const char* line)
{
    char iniPath[MAX_PATH];
    char copyPath[MAX_PATH];
    if (!FormWininitPaths(windowsFolder, iniPath, copyPath))
        return;
    HANDLE ini = OpenExclusive(iniPath, GENERIC_READ, OPEN_EXISTING);
    if (ini == INVALID_HANDLE_VALUE) {
        CreateWithSection(iniPath, line);
        return;
    }
    EditThroughWorkingCopy(iniPath, copyPath, ini, InsertBelowSections, line);
}

int WithdrawWininitDeletionsIn(const char* windowsFolder, bool (*isWithdrawn)(const char* path))
{
    char iniPath[MAX_PATH];
    char copyPath[MAX_PATH];
    if (!FormWininitPaths(windowsFolder, iniPath, copyPath))
        return 0;
    HANDLE ini = OpenExclusive(iniPath, GENERIC_READ, OPEN_EXISTING);
    if (ini == INVALID_HANDLE_VALUE)
        return 0;
    // Read once to count, so that a file with nothing to withdraw is neither copied nor replaced.
    Withdrawal withdrawal = {isWithdrawn, 0, INVALID_HANDLE_VALUE};
    if (!ForEachWininitLine(ini, CountWithdrawn, &withdrawal) || withdrawal.Count == 0) {
        CloseHandle(ini);
        return 0;
    }
    return EditThroughWorkingCopy(iniPath, copyPath, ini, DropWithdrawnDeletions, &withdrawal)
               ? withdrawal.Count
               : 0;
}

bool DeleteAtNextRestart(const char* path)
{
    char shortPath[MAX_PATH];
    DWORD length = GetShortPathNameA(path, shortPath, sizeof shortPath);
    const char* named = length != 0 && length < sizeof shortPath ? shortPath : path;
    char request[MAX_PATH + 4];
    if (snprintf(request, sizeof request, "NUL=%s", named) < static_cast<int>(sizeof request))
        AddWininitRenameLine(request);
    // Windows NT and later read only the pending deletions; older systems (and Wine) Wininit.ini,
    // whose request is never known to have been taken.
    return MoveFileExA(named, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

void LeaveForRestart(const char* path)
{
    bool requested = DeleteAtNextRestart(path);
    WriteLogLine(requested ? "in use, deleted at the next restart" : "in use, left for Wininit.ini", path);
    ++LeftForRestart;
}

unsigned FilesLeftForRestart() { return LeftForRestart; }

namespace {

const WCHAR SessionManagerKey[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const WCHAR PendingRenamesValue[] = L"PendingFileRenameOperations";

// The path of a pending rename's source ("\??\C:\..." or "\??\UNC\server\...") as this program
// spells it, in path (MAX_PATH bytes); false when it has no such form in the ANSI code page.
bool ToProgramPath(const WCHAR* source, char* path)
{
    if (wcsncmp(source, L"\\??\\", 4) != 0)
        return false;
    source += 4;
    int at = 0;
    if (wcsncmp(source, L"UNC\\", 4) == 0) {
        path[0] = path[1] = '\\';
        at = 2;
        source += 4;
    }
    BOOL lossy = FALSE;
    int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, source, -1, path + at, MAX_PATH - at,
                                     nullptr, &lossy);
    return length > 0 && !lossy;
}

// Counts characters up to the terminator, which the caller guarantees within the data.
DWORD TextLength(const WCHAR* text) { return static_cast<DWORD>(wcslen(text)); }

} // namespace

int WithdrawPendingDeletions(bool (*isWithdrawn)(const char* path))
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS)
        return 0;
    DWORD type = REG_NONE;
    DWORD size = 0;
    int withdrawn = 0;
    WCHAR* data = nullptr;
    WCHAR* kept = nullptr;
    if (RegQueryValueExW(key, PendingRenamesValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_MULTI_SZ && size >= sizeof(WCHAR)) {
        // Terminators beyond what the value holds, so that every text read below ends within it,
        // also in a value cut short, and its copy has room for the list's end.
        const DWORD room = size / sizeof(WCHAR) + 3;
        data = static_cast<WCHAR*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, room * sizeof(WCHAR)));
        kept = static_cast<WCHAR*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, room * sizeof(WCHAR)));
        DWORD read = (room - 3) * sizeof(WCHAR);
        if (data != nullptr && kept != nullptr &&
            RegQueryValueExW(key, PendingRenamesValue, nullptr, &type, reinterpret_cast<BYTE*>(data),
                             &read) == ERROR_SUCCESS &&
            type == REG_MULTI_SZ) {
            const DWORD count = read / sizeof(WCHAR);
            DWORD keptCount = 0;
            // Pairs of texts: the file, then its new name, empty for a deletion; an empty file ends them.
            for (DWORD at = 0; at < count && data[at] != L'\0';) {
                const WCHAR* source = data + at;
                const DWORD pairStart = at;
                at += TextLength(source) + 1;
                const WCHAR* target = data + at;
                at += TextLength(target) + 1;
                char path[MAX_PATH];
                if (target[0] == L'\0' && ToProgramPath(source, path) && isWithdrawn(path)) {
                    ++withdrawn;
                    continue;
                }
                memcpy(kept + keptCount, data + pairStart, (at - pairStart) * sizeof(WCHAR));
                keptCount += at - pairStart;
            }
            LONG status = ERROR_SUCCESS;
            if (withdrawn > 0 && keptCount == 0)
                status = RegDeleteValueW(key, PendingRenamesValue);
            else if (withdrawn > 0)
                status = RegSetValueExW(key, PendingRenamesValue, 0, REG_MULTI_SZ,
                                        reinterpret_cast<BYTE*>(kept), (keptCount + 1) * sizeof(WCHAR));
            if (status != ERROR_SUCCESS)
                withdrawn = 0;
        }
    }
    for (WCHAR* buffer : {data, kept})
        if (buffer != nullptr)
            HeapFree(GetProcessHeap(), 0, buffer);
    RegCloseKey(key);
    return withdrawn;
}

int WithdrawRestartDeletions(bool (*isWithdrawn)(const char* path))
{
    char windowsFolder[MAX_PATH];
    UINT length = GetWindowsDirectoryA(windowsFolder, sizeof windowsFolder);
    int withdrawn = length == 0 || length >= sizeof windowsFolder
                        ? 0
                        : WithdrawWininitDeletionsIn(windowsFolder, isWithdrawn);
    return withdrawn + WithdrawPendingDeletions(isWithdrawn);
}

namespace {

// The files to be deleted at the next start that existed when NoteRestartDeletions looked, by
// their long paths; more than the room holds are not noted.
const int NotedRoom = 32;
char NotedDeletions[NotedRoom][MAX_PATH];
int NotedCount = 0;

bool NoteDeletion(const char* path)
{
    char longPath[MAX_PATH];
    DWORD length = GetLongPathNameA(path, longPath, sizeof longPath);
    if (length != 0 && length < sizeof longPath && NotedCount < NotedRoom)
        lstrcpynA(NotedDeletions[NotedCount++], longPath, MAX_PATH);
    return false; // noted, not withdrawn
}

} // namespace

void NoteRestartDeletions()
{
    NotedCount = 0;
    WithdrawRestartDeletions(NoteDeletion);
}

bool IsDeletedAtRestart(const char* path)
{
    for (int i = 0; i < NotedCount; ++i)
        if (IsSamePathText(NotedDeletions[i], path))
            return true;
    return false;
}
