// Shows windows for as short a time as the system allows, for the window watch's own test:
// a popup shown and destroyed at once, one made but never shown, and one made visible on a second
// thread. Exits with the time the popup was up in microseconds by its own clock (from the end of
// its show until its destruction hid it), or with BlinkFailed when it could not do all that.
#include <windows.h>

namespace {

const char BlinkClass[] = "ZorvaneBlink";
const int BlinkFailed = 1000000000;

// When the popup was hidden again: the first thing its destruction does.
LARGE_INTEGER HiddenAt = {};

LRESULT CALLBACK BlinkProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_WINDOWPOSCHANGED &&
        (reinterpret_cast<const WINDOWPOS*>(lParam)->flags & SWP_HIDEWINDOW) && HiddenAt.QuadPart == 0)
        QueryPerformanceCounter(&HiddenAt);
    return DefWindowProcA(window, message, wParam, lParam);
}

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
    windowClass.lpfnWndProc = BlinkProcedure;
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
    LARGE_INTEGER frequency, shown;
    QueryPerformanceFrequency(&frequency);
    // Up from the show's end (the watch reports inside the show) until its destruction hid it.
    ShowWindow(blink, SW_SHOWNOACTIVATE);
    QueryPerformanceCounter(&shown);
    DestroyWindow(blink);
    DestroyWindow(hidden);
    HANDLE second = CreateThread(nullptr, 0, ShowOnSecondThread, nullptr, 0, nullptr);
    DWORD secondResult = 1;
    if (second == nullptr || WaitForSingleObject(second, 30000) != WAIT_OBJECT_0 ||
        !GetExitCodeThread(second, &secondResult) || secondResult != 0)
        return BlinkFailed;
    CloseHandle(second);
    if (HiddenAt.QuadPart == 0)
        return BlinkFailed;
    const long long upMicroseconds = (HiddenAt.QuadPart - shown.QuadPart) * 1000000 / frequency.QuadPart;
    return upMicroseconds < BlinkFailed ? static_cast<int>(upMicroseconds) : BlinkFailed - 1;
}
