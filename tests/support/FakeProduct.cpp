// Stands in for the running product in guard tests. Holds the product's mutex and, unless told
// otherwise, a top-level window of the product's class until its window gets WM_CLOSE or the quit
// event is set. The names are spelt out here on purpose, independent of the setup program's.
//
//   FakeProduct.exe visible|hidden|nowindow|nomutex QUIT-EVENT-NAME
//   FakeProduct.exe ANY-ONE-ARGUMENT    as installed, started with /RegServer: nowindow, event
//                                       "FakeProductQuit", and the event "FakeProductRegistering"
//                                       set once the mutex is made
//   The event QUIT-EVENT-NAME.ready, when the test made it, is set once window and mutex are made.
//
// nomutex: neither window nor mutex, as the product looks from another session.
//
// The window is made before the mutex, so once the mutex exists the window does too. Each
// activation of the window is counted in its caption, "Fake product activated N".
#include <windows.h>

#include <stdio.h>
#include <string.h>

namespace {

int Activations = 0;

void ShowActivations(HWND window)
{
    char caption[64];
    snprintf(caption, sizeof caption, "Fake product activated %d", Activations);
    SetWindowTextA(window, caption);
}

LRESULT CALLBACK ProductWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE) {
            ++Activations;
            ShowActivations(window);
        }
        break;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3)
        return 2;
    const char* mode = argc == 3 ? argv[1] : "nowindow";
    const bool withMutex = strcmp(mode, "nomutex") != 0;
    const bool withWindow = strcmp(mode, "nowindow") != 0 && withMutex;
    const bool visible = strcmp(mode, "visible") == 0;
    HANDLE quit = CreateEventA(nullptr, TRUE, FALSE, argc == 3 ? argv[2] : "FakeProductQuit");
    if (quit == nullptr)
        return 3;

    HWND window = nullptr;
    if (withWindow) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = ProductWindowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.lpszClassName = "ProjectZorvane_Class";
        if (!RegisterClassA(&windowClass))
            return 4;
        window = CreateWindowExA(0, "ProjectZorvane_Class", "Fake product activated 0", WS_OVERLAPPEDWINDOW,
                                 100, 100, 400, 300, nullptr, nullptr, windowClass.hInstance, nullptr);
        if (window == nullptr)
            return 5;
        if (visible)
            ShowWindow(window, SW_SHOWNOACTIVATE);
    }
    HANDLE mutex = withMutex ? CreateMutexA(nullptr, FALSE, "ProjectZorvaneMutex") : nullptr;
    if (withMutex && mutex == nullptr)
        return 6;
    // Started for its registration: says so by a name of its own, which nothing else makes. A test
    // that made the event first waits on it, so it is set rather than made set.
    HANDLE registering = argc == 2 ? CreateEventA(nullptr, TRUE, FALSE, "FakeProductRegistering") : nullptr;
    if (registering != nullptr)
        SetEvent(registering);
    // Told to quit by an event of the test's: "NAME.ready", where the test made it, says that the
    // window and mutex now exist.
    if (argc == 3) {
        char readyName[MAX_PATH];
        snprintf(readyName, sizeof readyName, "%s.ready", argv[2]);
        HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, readyName);
        if (ready != nullptr) {
            SetEvent(ready);
            CloseHandle(ready);
        }
    }

    for (;;) {
        DWORD woken = MsgWaitForMultipleObjects(1, &quit, FALSE, INFINITE, QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0)
            break;
        MSG message;
        bool quitting = false;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                quitting = true;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (quitting)
            break;
    }
    if (window != nullptr && IsWindow(window))
        DestroyWindow(window);
    if (mutex != nullptr)
        CloseHandle(mutex);
    if (registering != nullptr)
        CloseHandle(registering);
    CloseHandle(quit);
    return 0;
}
