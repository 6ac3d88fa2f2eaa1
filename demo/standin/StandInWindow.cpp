#include "StandInWindow.h"

namespace {

LRESULT CALLBACK StandInWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: {
        const CREATESTRUCTA* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        RECT client;
        GetClientRect(window, &client);
        HWND text = CreateWindowExA(
            0, "Static", static_cast<const char*>(create->lpCreateParams), WS_CHILD | WS_VISIBLE | SS_CENTER,
            16, 24, client.right - 32, client.bottom - 48, window,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(StandInTextId)), create->hInstance, nullptr);
        SendMessageA(text, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

} // namespace

int RunStandInWindow(HINSTANCE instance, const char* className, const char* title, const char* text)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = StandInWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = className;
    if (!RegisterClassA(&windowClass))
        return 1;
    HWND window = CreateWindowExA(
        0, className, title, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
        CW_USEDEFAULT, 460, 160, nullptr, nullptr, instance, const_cast<char*>(text));
    if (window == nullptr)
        return 1;
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
