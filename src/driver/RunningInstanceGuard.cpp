#include "driver/RunningInstanceGuard.h"

#include "core/PathUtilities.h"
#include "core/ProductTexts.h"
#include "driver/UserMessages.h"

#include <tlhelp32.h>

#include <string.h>

const char ProductMutexName[] = "ProjectZorvaneMutex";
const char ProductWindowClass[] = "ProjectZorvane_Class";

namespace {

// In the global namespace, so that runs in different sessions (the system account's, a user's)
// see each other.
const char SetupMutexName[] = "Global\\ProjectZorvaneSetupMutex";

#ifndef PROCESS_QUERY_LIMITED_INFORMATION
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000
#endif

typedef BOOL(WINAPI* QueryImageName)(HANDLE, DWORD, LPSTR, PDWORD);

// The path of process id's program file, into path (MAX_PATH bytes). Asked of the process itself,
// not read from its modules, so that a 32-bit program sees a 64-bit one too.
bool GetProcessProgram(DWORD id, char* path)
{
    static const QueryImageName query = reinterpret_cast<QueryImageName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryFullProcessImageNameA")));
    if (query == nullptr)
        return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (process == nullptr)
        return false;
    DWORD size = MAX_PATH;
    bool named = query(process, 0, path, &size) != 0 && size < MAX_PATH;
    CloseHandle(process);
    return named;
}

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

bool WaitForProductExit(HWND owner, GuardMode mode, const char* productProgram)
{
    const bool uninstall = mode == GuardMode::Uninstall;
    const char* caption = uninstall ? UninstallCaption : SetupCaption;
    const char* question = uninstall ? RunningUninstallQuestion : RunningInstallQuestion;
    for (;;) {
        HANDLE mutex = CreateMutexA(nullptr, FALSE, ProductMutexName);
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS &&
            (productProgram == nullptr || !IsProgramRunning(productProgram))) {
            // Held on purpose in uninstall mode: the product must not start while its files go.
            if (!uninstall && mutex != nullptr)
                CloseHandle(mutex);
            return true;
        }
        if (mutex != nullptr)
            CloseHandle(mutex);

        // Unattended, nobody can close the product: the run gives up at once, to be tried again.
        if (ShowMessage(owner, question, caption, MB_YESNO | MB_ICONQUESTION, IDNO) == IDYES)
            RevealProductWindow();
        if (ShowMessage(owner, RunningExitPrompt, caption, MB_OKCANCEL, IDCANCEL, ExitBusy) != IDOK)
            return false;
    }
}

bool IsProgramRunning(const char* productProgram)
{
    const char* name = strrchr(productProgram, '\\');
    name = name != nullptr ? name + 1 : productProgram;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    bool running = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !running;
         more = Process32Next(snapshot, &entry)) {
        // Only a process of the program's name is asked for its path.
        char path[MAX_PATH];
        running = lstrcmpiA(entry.szExeFile, name) == 0 && GetProcessProgram(entry.th32ProcessID, path) &&
                  (lstrcmpiA(path, productProgram) == 0 || IsSameFile(path, productProgram));
    }
    CloseHandle(snapshot);
    return running;
}

bool ClaimSetupMutex()
{
    // Never closed: the process's end releases it.
    HANDLE mutex = CreateMutexA(nullptr, FALSE, SetupMutexName);
    if (mutex == nullptr)
        return GetLastError() != ERROR_ACCESS_DENIED; // held by a run of another account
    if (GetLastError() != ERROR_ALREADY_EXISTS)
        return true;
    CloseHandle(mutex);
    return false;
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
