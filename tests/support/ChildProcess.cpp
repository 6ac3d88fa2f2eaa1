#include "support/ChildProcess.h"

#include <gtest/gtest.h>

bool EmulatedRoute()
{
    char route[16] = "";
    GetEnvironmentVariableA("ZORVANE_WINE_ROUTE", route, sizeof route);
    return sizeof(void*) == 4 && lstrcmpA(route, "qemu") == 0;
}

std::string BesideTests(const char* name)
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path);
    return folder.substr(0, folder.rfind('\\') + 1) + name;
}

PROCESS_INFORMATION StartChild(std::string commandLine, const char* application)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // Right after a run of the same program was killed, Wine now and then refuses the next start
    // with ERROR_INTERNAL_ERROR while its server still ends the killed one: tried again, a few
    // times, before it counts as a failure.
    BOOL started = FALSE;
    for (int tries = 0; tries < 5 && !started; ++tries) {
        started = CreateProcessA(application, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &process);
        if (started || GetLastError() != ERROR_INTERNAL_ERROR)
            break;
        Sleep(200);
    }
    EXPECT_TRUE(started) << commandLine << ", error " << GetLastError();
    return process;
}

DWORD FinishChild(PROCESS_INFORMATION process, DWORD limitMs)
{
    if (process.hProcess == nullptr)
        return ~0u;
    if (WaitForSingleObject(process.hProcess, limitMs) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "still running, terminated";
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 10000);
    }
    DWORD code = ~0u;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}
