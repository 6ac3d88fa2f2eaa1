#include "support/UiDriver.h"

const char DialogClass[] = "#32770";

namespace {

struct WindowSearch {
    const char* ClassName;
    const char* Caption;
    DWORD ProcessId;
    HWND Found;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM data)
{
    WindowSearch* search = reinterpret_cast<WindowSearch*>(data);
    if (!IsWindowVisible(window))
        return TRUE;
    char text[512];
    if (search->ClassName != nullptr) {
        GetClassNameA(window, text, sizeof text);
        if (lstrcmpA(text, search->ClassName) != 0)
            return TRUE;
    }
    if (search->Caption != nullptr) {
        GetWindowTextA(window, text, sizeof text);
        if (lstrcmpA(text, search->Caption) != 0)
            return TRUE;
    }
    search->Found = window;
    return FALSE;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM data)
{
    MessageBoxContent* content = reinterpret_cast<MessageBoxContent*>(data);
    char className[64];
    GetClassNameA(child, className, sizeof className);
    LONG style = GetWindowLongA(child, GWL_STYLE);
    if (lstrcmpiA(className, "Button") == 0) {
        content->ButtonIds.push_back(GetDlgCtrlID(child));
    } else if (lstrcmpiA(className, "Static") == 0) {
        if ((style & SS_TYPEMASK) == SS_ICON)
            content->Icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
        else if (content->Text.empty())
            content->Text = WindowText(child);
    }
    return TRUE;
}

} // namespace

HWND WaitForWindow(const char* className, const char* caption, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        WindowSearch search = {className, caption, 0, nullptr};
        EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
        if (search.Found != nullptr)
            return search.Found;
        if (GetTickCount() - start >= timeoutMs)
            return nullptr;
        Sleep(20); // polling interval, bounded by the timeout
    }
}

bool WaitForWindowGone(HWND window, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (IsWindow(window)) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}

MessageBoxContent ReadMessageBox(HWND box)
{
    MessageBoxContent content;
    content.Caption = WindowText(box);
    EnumChildWindows(box, CollectChild, reinterpret_cast<LPARAM>(&content));
    return content;
}

HICON StandardMessageBoxIcon(UINT iconStyle)
{
    switch (iconStyle & MB_ICONMASK) {
    case MB_ICONHAND:
        return LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_HAND));
    case MB_ICONQUESTION:
        return LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_QUESTION));
    case MB_ICONEXCLAMATION:
        return LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_EXCLAMATION));
    case MB_ICONASTERISK:
        return LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_ASTERISK));
    default:
        return nullptr;
    }
}

std::string WindowText(HWND window)
{
    // WM_GETTEXT reaches edit controls too, whose text the system does not keep for them.
    std::vector<char> text(16384);
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, 5000, &length))
        return std::string();
    return std::string(text.data(), length < text.size() ? length : 0);
}

std::string ControlText(HWND dialog, int controlId) { return WindowText(GetDlgItem(dialog, controlId)); }

void PressButton(HWND dialog, int controlId)
{
    HWND button = GetDlgItem(dialog, controlId);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}
