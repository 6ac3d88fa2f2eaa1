// Process entry of Setup.exe: prepares the process, puts up the backdrop and runs one sequence.
#include "core/SystemLibraries.h"
#include "driver/CommandLine.h"
#include "driver/InstallSequence.h"
#include "core/SetupState.h"
#include "driver/UninstallSequence.h"
#include "resource.h"
#include "ui/BackdropWindow.h"

#include <windows.h>
#include <objbase.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    // Before anything can load a DLL by name: never from the program's own (download) folder.
    RestrictDllSearchToSystemFolder();
    ModuleInstance = instance;
    SystemInitCommonControls();
    CoInitialize(nullptr);
    ParseCommandLine();

    RegisterBackdropClass();
    WizardBitmap = static_cast<HBITMAP>(
        LoadImageA(ModuleInstance, MAKEINTRESOURCEA(IDB_WIZARD), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    HWND backdrop = CreateBackdropWindow();

    if (UninstallMode == 1)
        RunUninstall(backdrop);
    else
        RunInstall(backdrop);

    DeleteObject(WizardBitmap);
    CoUninitialize();
    return 0;
}
