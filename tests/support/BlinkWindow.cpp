// Shows windows for as short a time as the system allows, for the window watch's own test:
// a popup shown and destroyed at once, one made but never shown, and one made visible on a second
// thread. Exits with the time the popup was up in microseconds by its own clock (from the end of
// its show until its destruction hid it), or with BlinkFailed when it could not do all that.
// With the argument "held": a red topmost popup at HeldLeft, HeldTop whose label gets HeldText at
// once after its show and which is destroyed right after that; exits 0 when it all worked.
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

// As the window watch's test expects them.
const int HeldLeft = 200, HeldTop = 200, HeldLabelId = 1;
const char HeldText[] = "Hold here";

// Red only where it paints (no background brush): a window that never got to paint is not red.
LRESULT CALLBACK HeldProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_PAINT)
        return DefWindowProcA(window, message, wParam, lParam);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    FillRect(dc, &paint.rcPaint, red);
    DeleteObject(red);
    EndPaint(window, &paint);
    return 0;
}

int ShowHeld(HINSTANCE instance)
{
    WNDCLASSA heldClass = {};
    heldClass.lpfnWndProc = HeldProcedure;
    heldClass.hInstance = instance;
    heldClass.lpszClassName = "ZorvaneBlinkHeld";
    if (!RegisterClassA(&heldClass))
        return BlinkFailed;
    HWND held = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, heldClass.lpszClassName, "Blink held",
                                WS_POPUP, HeldLeft, HeldTop, 80, 60, nullptr, nullptr, instance, nullptr);
    HWND label =
        CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, 40, 12, held,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(HeldLabelId)), instance, nullptr);
    if (held == nullptr || label == nullptr)
        return BlinkFailed;
    ShowWindow(held, SW_SHOWNOACTIVATE);
    SetWindowTextA(label, HeldText);
    return DestroyWindow(held) ? 0 : BlinkFailed;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && lstrcmpA(argv[1], "held") == 0)
        return ShowHeld(GetModuleHandleA(nullptr));
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
