#include "support/ChildProcess.h"

#include <gtest/gtest.h>

PROCESS_INFORMATION StartChild(std::string commandLine)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    EXPECT_TRUE(CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process))
        << commandLine;
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
