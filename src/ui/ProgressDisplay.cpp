#include "ui/ProgressDisplay.h"

#include "resource.h"
#include "ui/BackdropWindow.h"
#include "ui/WindowStop.h"

#include <commctrl.h>

namespace {

// The dialog that belongs to another thread, and what its next round is to show. The install
// thread only writes here: an update costs it no trip to the window's thread.
struct HandedOver {
    HWND Dialog;
    CRITICAL_SECTION Lock;
    char Status[MAX_PATH];
    unsigned Percent;
    bool StatusChanged;
    bool PercentChanged;
};

HandedOver& Remote()
{
    static HandedOver remote = {};
    static const bool ready = [] {
        InitializeCriticalSection(&remote.Lock);
        return true;
    }();
    (void)ready;
    return remote;
}

LRESULT CreateOnOwnerThread(HWND owner, WPARAM)
{
    return reinterpret_cast<LRESULT>(CreateDialogParamA(
        GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PROGRESS), owner, ProgressDialogProc, 0));
}

bool OnOtherThread(HWND window) { return GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId(); }

} // namespace

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL && CloseMeansStop()) {
        NoteStopAsked();
        return 1;
    }
    if (message == ProgressCloseMessage) {
        DestroyWindow(dialog);
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
    if (owner == nullptr || !OnOtherThread(owner))
        return reinterpret_cast<HWND>(CreateOnOwnerThread(owner, 0));
    HWND dialog = reinterpret_cast<HWND>(RunOnWindowThread(owner, CreateOnOwnerThread, 0));
    HandedOver& remote = Remote();
    EnterCriticalSection(&remote.Lock);
    remote.Dialog = dialog;
    remote.StatusChanged = remote.PercentChanged = false;
    LeaveCriticalSection(&remote.Lock);
    return dialog;
}

void CloseProgressDisplay(HWND progress)
{
    if (progress == nullptr)
        return;
    HandedOver& remote = Remote();
    EnterCriticalSection(&remote.Lock);
    if (remote.Dialog == progress)
        remote.Dialog = nullptr;
    LeaveCriticalSection(&remote.Lock);
    SendMessageA(progress, ProgressCloseMessage, 0, 0);
}

void SetProgressStatus(HWND progress, const char* text)
{
    HandedOver& remote = Remote();
    if (progress != nullptr && progress == remote.Dialog) {
        EnterCriticalSection(&remote.Lock);
        lstrcpynA(remote.Status, text, sizeof remote.Status);
        remote.StatusChanged = true;
        LeaveCriticalSection(&remote.Lock);
        return;
    }
    SetDlgItemTextA(progress, IDC_PROGRESS_STATUS, text);
}

void SetProgressPosition(HWND progress, unsigned percent)
{
    HandedOver& remote = Remote();
    if (progress != nullptr && progress == remote.Dialog) {
        EnterCriticalSection(&remote.Lock);
        remote.Percent = percent;
        remote.PercentChanged = true;
        LeaveCriticalSection(&remote.Lock);
        return;
    }
    SendDlgItemMessageA(progress, IDC_PROGRESS_BAR, PBM_SETPOS, percent, 0);
}

void ShowHandedOverProgress()
{
    HandedOver& remote = Remote();
    char status[MAX_PATH];
    EnterCriticalSection(&remote.Lock);
    HWND dialog = remote.Dialog;
    const bool statusChanged = remote.StatusChanged;
    const bool percentChanged = remote.PercentChanged;
    const unsigned percent = remote.Percent;
    lstrcpynA(status, remote.Status, sizeof status);
    remote.StatusChanged = remote.PercentChanged = false;
    LeaveCriticalSection(&remote.Lock);
    if (dialog == nullptr || OnOtherThread(dialog))
        return;
    if (statusChanged)
        SetDlgItemTextA(dialog, IDC_PROGRESS_STATUS, status);
    if (percentChanged)
        SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETPOS, percent, 0);
}
