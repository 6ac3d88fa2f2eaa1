#include "payload/BootTimeDeletion.h"

#include "core/FileAccess.h"
#include "core/PathUtilities.h"

#include <windows.h>

#include <stdio.h>

namespace {

const char SectionLine[] = "[rename]";
// A line of the existing file keeps at most 1023 characters; the rest of it is dropped.
const DWORD IniLineSize = 1024;

HANDLE OpenExclusive(const char* path, DWORD access, DWORD disposition)
{
    return CreateFileA(path, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
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

// Copies the whole of ini into copy, line by line, with line below every section line and the
// section appended when there was none. False when a write failed or the file was not read to
// its end (a read error ends the copy just as the end of the file does).
bool WriteWorkingCopy(HANDLE ini, HANDLE copy, const char* line)
{
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
    if (SetFilePointer(ini, 0, nullptr, FILE_CURRENT) != GetFileSize(ini, nullptr))
        return false;
    if (!sectionFound)
        return WriteRawLine(copy, nullptr) && WriteRawLine(copy, SectionLine) && WriteRawLine(copy, line);
    return true;
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
    lstrcpynA(iniPath, windowsFolder, sizeof iniPath);
    lstrcpynA(copyPath, windowsFolder, sizeof copyPath);
    if (!AppendPathComponent(iniPath, "Wininit.ini") || !AppendPathComponent(copyPath, "Wininit.~in"))
        return;

    HANDLE ini = OpenExclusive(iniPath, GENERIC_READ, OPEN_EXISTING);
    if (ini == INVALID_HANDLE_VALUE) {
        CreateWithSection(iniPath, line);
        return;
    }
    HANDLE copy = OpenExclusive(copyPath, GENERIC_WRITE, CREATE_ALWAYS);
    if (copy == INVALID_HANDLE_VALUE) {
        CloseHandle(ini);
        return;
    }
    bool complete = WriteWorkingCopy(ini, copy, line);
    CloseHandle(copy);
    CloseHandle(ini);
    // One step, so that a refused replacement leaves the former file whole.
    if (!complete || !MoveFileExA(copyPath, iniPath, MOVEFILE_REPLACE_EXISTING))
        DeleteFileA(copyPath);
}

// Windows NT and later ignore Wininit.ini; older systems (and Wine) read it.
void RequestDeletionAtRestart(const char* path)
{
    char shortPath[MAX_PATH];
    DWORD length = GetShortPathNameA(path, shortPath, sizeof shortPath);
    const char* named = length != 0 && length < sizeof shortPath ? shortPath : path;
    char request[MAX_PATH + 4];
    snprintf(request, sizeof request, "NUL=%s", named);
    AddWininitRenameLine(request);
    MoveFileExA(named, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}
