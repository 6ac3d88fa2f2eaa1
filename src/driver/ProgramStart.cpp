#include "driver/ProgramStart.h"

#include "core/PathUtilities.h"

#include <stdio.h>
#include <string.h>

bool FormatProductCommand(char* command, const char* folder)
{
    char path[MAX_PATH];
    lstrcpynA(path, folder, sizeof path);
    command[0] = '\0';
    if (!AppendPathComponent(path, "tpz2.exe"))
        return false;
    snprintf(command, ProductCommandSize, "\"%s\"", path);
    return true;
}

bool StartProgram(const char* commandLine, DWORD waitMs, DWORD* exitCode)
{
    // CreateProcessA may write into its command line, so it gets a copy of its own.
    char line[2 * MAX_PATH + 64];
    if (strnlen(commandLine, sizeof line) >= sizeof line)
        return false;
    lstrcpynA(line, commandLine, sizeof line);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    bool ended = waitMs != 0 && WaitForSingleObject(process.hProcess, waitMs) == WAIT_OBJECT_0;
    if (exitCode != nullptr && !(ended && GetExitCodeProcess(process.hProcess, exitCode)))
        *exitCode = STILL_ACTIVE;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}
