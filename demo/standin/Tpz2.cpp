// Stand-in for the product's main program tpz2.exe. Started without arguments it runs as the
// product does for the setup program's running-instance guard: it holds the product's mutex and
// shows a window of the product's class until closed. Started with one of the switches the setup
// program uses, it notes the request in tpz2.log beside itself and exits.
#include "StandInWindow.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

namespace {

const char MutexName[] = "ProjectZorvaneMutex";
const char WindowClass[] = "ProjectZorvane_Class";
const char WindowTitle[] = "TALVIQ Project Zorvane 2 PE Demo (stand-in)";
const char WindowText[] = "This program stands in for TALVIQ Project Zorvane 2 PE Demo.\n"
                          "Close it to let Setup go on.";
const char LogName[] = "tpz2.log";

const int ExitDone = 0;
const int ExitLogFailed = 1;
const int ExitUnknownSwitch = 2;

// The command line after the program's own name, quoted or not, without the blanks that follow.
const char* ArgumentsOf(const char* line)
{
    if (*line == '"') {
        ++line;
        while (*line != '\0' && *line != '"')
            ++line;
        if (*line == '"')
            ++line;
    } else {
        while (*line != '\0' && *line != ' ' && *line != '\t')
            ++line;
    }
    while (*line == ' ' || *line == '\t')
        ++line;
    return line;
}

// Appends text and CR LF to the log in the program's own folder; false when it cannot.
bool AppendToLog(const char* text)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return false;
    char* separator = strrchr(path, '\\');
    size_t folderLength = separator != nullptr ? static_cast<size_t>(separator + 1 - path) : 0;
    if (folderLength + sizeof LogName > sizeof path)
        return false;
    memcpy(path + folderLength, LogName, sizeof LogName);

    HANDLE log = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    DWORD textLength = static_cast<DWORD>(lstrlenA(text));
    bool complete = WriteFile(log, text, textLength, &written, nullptr) && written == textLength &&
                    WriteFile(log, "\r\n", 2, &written, nullptr) && written == 2;
    CloseHandle(log);
    return complete;
}

// True when arguments is the switch, alone or followed by blanks, in any case.
bool IsSwitch(const char* arguments, const char* name)
{
    size_t length = strlen(name);
    if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, arguments,
                       static_cast<int>(strnlen(arguments, length)), name,
                       static_cast<int>(length)) != CSTR_EQUAL)
        return false;
    for (const char* rest = arguments + length; *rest != '\0'; ++rest)
        if (*rest != ' ' && *rest != '\t')
            return false;
    return true;
}

int HandleSwitch(const char* arguments)
{
    char request[2 * MAX_PATH];
    if (IsSwitch(arguments, "/RegServer")) {
        lstrcpynA(request, "/RegServer", sizeof request);
    } else if (IsSwitch(arguments, "/UnRegServer")) {
        lstrcpynA(request, "/UnRegServer", sizeof request);
    } else if ((arguments[0] == '/' || arguments[0] == '-') && (arguments[1] == 'c' || arguments[1] == 'C') &&
               (arguments[2] == ' ' || arguments[2] == '\t')) {
        // The folder runs to the end of the line, unquoted, blanks and all.
        const char* folder = arguments + 3;
        while (*folder == ' ' || *folder == '\t')
            ++folder;
        if (*folder == '\0')
            return ExitUnknownSwitch;
        int needed = snprintf(request, sizeof request, "/c %s", folder);
        if (needed < 0 || static_cast<size_t>(needed) >= sizeof request)
            return ExitUnknownSwitch;
    } else {
        return ExitUnknownSwitch;
    }
    return AppendToLog(request) ? ExitDone : ExitLogFailed;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    const char* arguments = ArgumentsOf(GetCommandLineA());
    if (*arguments != '\0')
        return HandleSwitch(arguments);

    HANDLE mutex = CreateMutexA(nullptr, FALSE, MutexName);
    if (mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        // One instance at a time, as the product: bring the running one forward instead.
        HWND running = FindWindowA(WindowClass, nullptr);
        if (running != nullptr)
            SetForegroundWindow(running);
        CloseHandle(mutex);
        return ExitDone;
    }
    int result = RunStandInWindow(instance, WindowClass, WindowTitle, WindowText);
    if (mutex != nullptr)
        CloseHandle(mutex);
    return result;
}
