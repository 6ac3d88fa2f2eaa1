#include "driver/RunWindows.h"

#include "core/SetupState.h"
#include "driver/RunOptions.h"
#include "resource.h"
#include "ui/BackdropWindow.h"
#include "ui/PassiveWindows.h"
#include "ui/ProgressDisplay.h"
#include "ui/WindowStop.h"

HWND PutUpRunWindows()
{
    SetBackdropTitle(UninstallMode == 1);
    // Only the user of a passive run has no other way to stop it.
    SetCloseMeansStop(RunOptions.Ui == UiLevel::Passive);
    if (RunOptions.Ui == UiLevel::Quiet)
        return nullptr;
    RegisterBackdropClass();
    WizardBitmap = static_cast<HBITMAP>(
        LoadImageA(ModuleInstance, MAKEINTRESOURCEA(IDB_WIZARD), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    // Nobody answers anything in a passive run: its windows get a thread of their own that keeps
    // them answering while the install thread works or waits.
    return RunOptions.Ui == UiLevel::Passive ? StartPassiveWindows() : CreateBackdropWindow();
}

void TakeDownRunWindows()
{
    if (RunOptions.Ui == UiLevel::Passive)
        StopPassiveWindows();
    if (WizardBitmap != nullptr)
        DeleteObject(WizardBitmap);
    WizardBitmap = nullptr;
}

HWND ShowProgress(HWND backdrop)
{
    return RunOptions.Ui == UiLevel::Quiet ? nullptr : CreateProgressDisplay(backdrop);
}
