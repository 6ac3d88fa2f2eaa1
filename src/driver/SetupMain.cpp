// Process entry of Setup.exe: prepares the process and runs the program.
#include "core/SystemLibraries.h"
#include "driver/SetupRun.h"

#include <windows.h>
#include <objbase.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    // Before anything can load a DLL by name: never from the program's own (download) folder.
    RestrictDllSearchToSystemFolder();
    const int exitCode = RunSetup(instance);
    // The exit code reaches the process, and so a deployment tool, from here.
    return exitCode;
}
