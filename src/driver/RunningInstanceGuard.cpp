#include "driver/RunningInstanceGuard.h"

#include "core/UserMessages.h"

const char ProductMutexName[] = "ProjectZorvaneMutex";
const char ProductWindowClass[] = "ProjectZorvane_Class";

namespace {

const char InstallCaption[] = "Setup";
const char UninstallCaption[] = "Uninstall";
const char InstallQuestion[] =
    "TALVIQ Project Zorvane is currently running. You can't reinstall it unless you quit "
    "the application.\rDo you want to see TALVIQ Project Zorvane's main window?";
const char UninstallQuestion[] =
    "TALVIQ Project Zorvane is currently running. You can't uninstall it unless you "
    "quit the application.\rDo you want to see TALVIQ Project Zorvane's main window?";
const char ExitPrompt[] = "Exit TALVIQ Project Zorvane then press OK to continue";

// Shows the product's main window, wherever it is, and brings it forward.
void RevealProductWindow()
{
    HWND product = FindWindowA(ProductWindowClass, nullptr);
    if (product == nullptr)
        return;
    if (!IsWindowVisible(product)) {
        AnimateFromTray(product);
        ShowWindow(product, SW_SHOW);
    }
    SetForegroundWindow(product);
}

} // namespace

bool WaitForProductExit(HWND owner, GuardMode mode)
{
    const bool uninstall = mode == GuardMode::Uninstall;
    const char* caption = uninstall ? UninstallCaption : InstallCaption;
    const char* question = uninstall ? UninstallQuestion : InstallQuestion;
    for (;;) {
        HANDLE mutex = CreateMutexA(nullptr, FALSE, ProductMutexName);
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS) {
            // Held on purpose in uninstall mode: the product must not start while its files go.
            if (!uninstall && mutex != nullptr)
                CloseHandle(mutex);
            return true;
        }
        CloseHandle(mutex);

        // Unattended, nobody can close the product: the run gives up at once.
        if (ShowMessage(owner, question, caption, MB_YESNO | MB_ICONQUESTION, IDNO) == IDYES)
            RevealProductWindow();
        if (ShowMessage(owner, ExitPrompt, caption, MB_OKCANCEL, IDCANCEL, ExitCancelled) != IDOK)
            return false;
    }
}

void AnimateFromTray(HWND window)
{
    HWND taskbar = FindWindowA("Shell_TrayWnd", nullptr);
    if (taskbar == nullptr)
        return;
    HWND notificationArea = FindWindowExA(taskbar, nullptr, "TrayNotifyWnd", nullptr);
    if (notificationArea == nullptr)
        return;
    RECT from;
    RECT to;
    GetWindowRect(notificationArea, &from);
    GetWindowRect(window, &to);
    DrawAnimatedRects(GetDesktopWindow(), IDANI_CAPTION, &from, &to);
}
