#include "core/HeldFiles.h"

namespace {

const DWORD PauseMs = 50;

template <typename Step> bool WhileHeld(Step step, DWORD limitMs, bool deniedIsHeld)
{
    for (DWORD waited = 0;; waited += PauseMs) {
        if (step())
            return true;
        const DWORD error = GetLastError();
        const bool held = error == ERROR_SHARING_VIOLATION || (deniedIsHeld && error == ERROR_ACCESS_DENIED);
        if (!held || waited >= limitMs)
            return false;
        Sleep(PauseMs);
    }
}

} // namespace

bool MoveWhenLetGo(const char* from, const char* to, DWORD flags, DWORD limitMs, bool deniedIsHeld)
{
    return WhileHeld([&] { return MoveFileExA(from, to, flags) != FALSE; }, limitMs, deniedIsHeld);
}

bool DeleteWhenLetGo(const char* path, DWORD limitMs, bool deniedIsHeld)
{
    return WhileHeld([&] { return DeleteFileA(path) != FALSE; }, limitMs, deniedIsHeld);
}
