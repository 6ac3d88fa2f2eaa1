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

bool StartProgram(const char* commandLine, DWORD waitMs, DWORD* exitCode, bool endIfStillRunning)
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
    // Ended and waited for, so that its files can be deleted once this returns.
    if (!ended && endIfStillRunning && TerminateProcess(process.hProcess, 1))
        WaitForSingleObject(process.hProcess, waitMs);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

void DescribeProgramEnd(char* text, size_t size, DWORD exitCode, DWORD waitMs)
{
    if (exitCode == 0)
        snprintf(text, size, "done");
    else if (exitCode == STILL_ACTIVE)
        snprintf(text, size, "still running after %lu s", static_cast<unsigned long>(waitMs / 1000));
    else
        snprintf(text, size, "ended with exit code %lu", static_cast<unsigned long>(exitCode));
}
