// The peers' stopwatch, run under Wine by bench/run:
//   RunTimed COMMAND LINE...
// starts the rest of its own command line as one process, waits for it to exit and prints
// "SECONDS EXITCODE". Every installer is timed from the same kind of start, a process made by a
// Windows program already running in the prefix, so Wine's own start-up of the first program of
// a run is counted for none of them.
#include <windows.h>

#include <stdio.h>

namespace {

// The command line after the first argument, as the system passed it: quoted groups and
// backslashes stay as the child is to read them.
const char* RestOfCommandLine(const char* line)
{
    bool quoted = false;
    for (; *line != '\0'; ++line) {
        if (*line == '"')
            quoted = !quoted;
        else if (!quoted && (*line == ' ' || *line == '\t'))
            break;
    }
    while (*line == ' ' || *line == '\t')
        ++line;
    return line;
}

double Seconds()
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

} // namespace

int main()
{
    char command[4096];
    const char* rest = RestOfCommandLine(GetCommandLineA());
    if (*rest == '\0') {
        fprintf(stderr, "usage: RunTimed COMMAND LINE...\n");
        return 2;
    }
    if (lstrlenA(rest) >= static_cast<int>(sizeof command)) {
        fprintf(stderr, "RunTimed: the command line is too long\n");
        return 2;
    }
    lstrcpynA(command, rest, sizeof command);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    double start = Seconds();
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        fprintf(stderr, "RunTimed: cannot start %s (error %lu)\n", command, GetLastError());
        return 1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    double seconds = Seconds() - start;
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    printf("%.4f %lu\n", seconds, code);
    return 0;
}
