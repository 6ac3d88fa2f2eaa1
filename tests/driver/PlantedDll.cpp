// A DLL planted beside a program under the name of a system DLL: when any process loads it, it
// leaves a marker file named after itself in its own folder, so a test sees that it ran.
#include <windows.h>

#include <string.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(self, path, MAX_PATH - 8);
    if (length == 0 || length >= MAX_PATH - 8)
        return FALSE;
    memcpy(path + length, ".loaded", 8);
    HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (marker != INVALID_HANDLE_VALUE)
        CloseHandle(marker);
    // Refuse to stay: the program must not run on with a stranger's code.
    return FALSE;
}

// Stands for every export a program may import from the DLL it was named after; never called,
// since the DLL refuses to stay.
extern "C" int PlantedEntry() { return 0; }
