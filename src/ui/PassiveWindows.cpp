#include "ui/PassiveWindows.h"

#include "ui/BackdropWindow.h"
#include "ui/ProgressDisplay.h"

namespace {

HANDLE WindowThread;
DWORD WindowThreadId;

struct Start {
    HANDLE Ready;
    HWND Backdrop;
};

DWORD WINAPI RunWindows(void* context)
{
    Start* start = static_cast<Start*>(context);
    // The message queue exists before anyone is told the thread is ready.
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    HWND backdrop = CreateBackdropWindow();
    start->Backdrop = backdrop;
    SetEvent(start->Ready);
    if (backdrop == nullptr)
        return 0;
    UINT_PTR timer = SetTimer(nullptr, 0, PassiveRoundMs, nullptr);
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == nullptr) {
            ShowHandedOverProgress();
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    KillTimer(nullptr, timer);
    // The progress dialog, owned by the backdrop, goes with it.
    DestroyWindow(backdrop);
    return 0;
}

} // namespace

HWND StartPassiveWindows()
{
    Start start = {CreateEventA(nullptr, TRUE, FALSE, nullptr), nullptr};
    if (start.Ready == nullptr)
        return nullptr;
    WindowThread = CreateThread(nullptr, 0, RunWindows, &start, 0, &WindowThreadId);
    if (WindowThread != nullptr)
        WaitForSingleObject(start.Ready, INFINITE);
    CloseHandle(start.Ready);
    if (WindowThread != nullptr && start.Backdrop == nullptr) {
        WaitForSingleObject(WindowThread, INFINITE);
        CloseHandle(WindowThread);
        WindowThread = nullptr;
    }
    return start.Backdrop;
}

void StopPassiveWindows()
{
    if (WindowThread == nullptr)
        return;
    PostThreadMessageA(WindowThreadId, WM_QUIT, 0, 0);
    WaitForSingleObject(WindowThread, INFINITE);
    CloseHandle(WindowThread);
    WindowThread = nullptr;
}
