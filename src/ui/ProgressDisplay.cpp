#include "ui/ProgressDisplay.h"

#include "resource.h"

#include <commctrl.h>

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message != WM_INITDIALOG)
        return 0;
    SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETPOS, 0, 0);
    return 1;
}

HWND CreateProgressDisplay(HWND owner)
{
    return CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PROGRESS), owner,
                              ProgressDialogProc, 0);
}

void SetProgressStatus(HWND progress, const char* text)
{
    SetDlgItemTextA(progress, IDC_PROGRESS_STATUS, text);
}

void SetProgressPosition(HWND progress, unsigned percent)
{
    SendDlgItemMessageA(progress, IDC_PROGRESS_BAR, PBM_SETPOS, percent, 0);
}
