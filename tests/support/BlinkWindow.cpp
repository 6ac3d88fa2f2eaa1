// Shows windows for as short a time as the system allows, for the window watch's own test:
// a popup shown and destroyed at once, one made but never shown, and one made visible on a second
// thread. Exits with the time the popup was up in microseconds by its own clock (from the end of
// its show to the end of its destruction), or with BlinkFailed when it could not do all that.
#include <windows.h>

namespace {

const char BlinkClass[] = "ZorvaneBlink";
const int BlinkFailed = 1000000000;

DWORD WINAPI ShowOnSecondThread(LPVOID)
{
    HWND window =
        CreateWindowExA(WS_EX_TOOLWINDOW, BlinkClass, "Blink on a second thread", WS_POPUP | WS_VISIBLE, 0, 0,
                        60, 40, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    return window != nullptr && DestroyWindow(window) ? 0 : BlinkFailed;
}

} // namespace

int main()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = BlinkClass;
    if (!RegisterClassA(&windowClass))
        return BlinkFailed;
    HWND blink = CreateWindowExA(WS_EX_TOOLWINDOW, BlinkClass, "Blink", WS_POPUP, 0, 0, 60, 40, nullptr,
                                 nullptr, windowClass.hInstance, nullptr);
    HWND hidden = CreateWindowExA(WS_EX_TOOLWINDOW, BlinkClass, "Never shown", WS_POPUP, 0, 0, 60, 40,
                                  nullptr, nullptr, windowClass.hInstance, nullptr);
    if (blink == nullptr || hidden == nullptr)
        return BlinkFailed;
    LARGE_INTEGER frequency, shown, gone;
    QueryPerformanceFrequency(&frequency);
    // Up from the show's end (the watch reports inside the show) at most until the destruction's
    // end, which hides it first.
    ShowWindow(blink, SW_SHOWNOACTIVATE);
    QueryPerformanceCounter(&shown);
    DestroyWindow(blink);
    QueryPerformanceCounter(&gone);
    DestroyWindow(hidden);
    HANDLE second = CreateThread(nullptr, 0, ShowOnSecondThread, nullptr, 0, nullptr);
    DWORD secondResult = 1;
    if (second == nullptr || WaitForSingleObject(second, 30000) != WAIT_OBJECT_0 ||
        !GetExitCodeThread(second, &secondResult) || secondResult != 0)
        return BlinkFailed;
    CloseHandle(second);
    const long long upMicroseconds = (gone.QuadPart - shown.QuadPart) * 1000000 / frequency.QuadPart;
    return upMicroseconds < BlinkFailed ? static_cast<int>(upMicroseconds) : BlinkFailed - 1;
}
