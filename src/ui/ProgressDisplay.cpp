#include "ui/ProgressDisplay.h"

#include "core/SetupState.h"
#include "core/UserMessages.h"
#include "core/ZorvaneException.h"
#include "resource.h"

#include <commctrl.h>

const char CancelledText[] = "Setup was cancelled by the user.";

namespace {

// How often a passive run lets its windows paint and take a close: often enough to look alive
// and answer Cancel at once to a person, while each round costs the system a trip to its window
// server and extraction updates the dialog about a thousand times a second.
const DWORD PassiveInputInterval = 20;

// Lets the windows of a passive run paint and take a close; stops the run when one was taken.
void HandlePassiveInput()
{
    if (RunOptions.Ui != UiLevel::Passive)
        return;
    static DWORD lastHandled;
    DWORD now = GetTickCount();
    if (now - lastHandled < PassiveInputInterval && !CancelRequested)
        return;
    lastHandled = now;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (CancelRequested) {
        RecordExitCode(ExitCancelled);
        throw ZorvaneException(ErrOwnText, CancelledText);
    }
}

} // namespace

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL && RunOptions.Ui == UiLevel::Passive) {
        CancelRequested = true;
        return 1;
    }
    if (message != WM_INITDIALOG)
        return 0;
    SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETPOS, 0, 0);
    return 1;
}

HWND CreateProgressDisplay(HWND owner)
{
    if (RunOptions.Ui == UiLevel::Quiet)
        return nullptr;
    return CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PROGRESS), owner,
                              ProgressDialogProc, 0);
}

void SetProgressStatus(HWND progress, const char* text)
{
    HandlePassiveInput();
    SetDlgItemTextA(progress, IDC_PROGRESS_STATUS, text);
}

void SetProgressPosition(HWND progress, unsigned percent)
{
    HandlePassiveInput();
    SendDlgItemMessageA(progress, IDC_PROGRESS_BAR, PBM_SETPOS, percent, 0);
}
