#include "uidriver/UiDriver.h"

#include <commctrl.h>
#include <prsht.h>

const char DialogClass[] = "#32770";

namespace {

// Polling interval of the waits; each wait is bounded by its timeout.
const DWORD PollMs = 20;

struct WindowSearch {
    const char* ClassName;
    const char* Caption;
    DWORD ProcessId;
    HWND Owner;
    HWND Found;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM data)
{
    WindowSearch* search = reinterpret_cast<WindowSearch*>(data);
    if (!IsWindowVisible(window))
        return TRUE;
    if (search->Owner != nullptr && GetWindow(window, GW_OWNER) != search->Owner)
        return TRUE;
    if (search->ProcessId != 0) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != search->ProcessId)
            return TRUE;
    }
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

struct ChildSearch {
    MessageBoxContent* Content;
    HWND IconControl;
};

BOOL CALLBACK CollectChild(HWND child, LPARAM data)
{
    ChildSearch* search = reinterpret_cast<ChildSearch*>(data);
    MessageBoxContent* content = search->Content;
    char className[64];
    GetClassNameA(child, className, sizeof className);
    LONG style = GetWindowLongA(child, GWL_STYLE);
    if (lstrcmpiA(className, "Button") == 0) {
        content->ButtonIds.push_back(GetDlgCtrlID(child));
        content->Buttons.push_back(WindowText(child));
    } else if (lstrcmpiA(className, "Static") == 0) {
        if ((style & SS_TYPEMASK) == SS_ICON) {
            content->Icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
            if (content->Icon != nullptr && IsWindowVisible(child))
                search->IconControl = child;
            else
                content->Icon = nullptr;
        } else if (content->Text.empty()) {
            content->Text = WindowText(child);
        }
    }
    return TRUE;
}

// A top-down 32-bit DIB of width x height selected into a memory DC.
struct PixelCanvas {
    PixelCanvas(HDC reference, int width, int height) : Width(width), Height(height)
    {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        Dc = CreateCompatibleDC(reference);
        Bitmap =
            CreateDIBSection(reference, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&Bits), nullptr, 0);
        Previous = SelectObject(Dc, Bitmap);
    }
    ~PixelCanvas()
    {
        SelectObject(Dc, Previous);
        DeleteObject(Bitmap);
        DeleteDC(Dc);
    }
    PixelCanvas(const PixelCanvas&) = delete;
    PixelCanvas& operator=(const PixelCanvas&) = delete;

    DWORD Pixel(int x, int y) const { return Bits[y * Width + x] & 0xffffff; }

    int Width;
    int Height;
    HDC Dc;
    HBITMAP Bitmap;
    HGDIOBJ Previous;
    DWORD* Bits = nullptr;
};

const UINT StandardIconStyles[] = {MB_ICONHAND, MB_ICONQUESTION, MB_ICONEXCLAMATION, MB_ICONASTERISK};

UINT IconStyleByHandle(HICON icon)
{
    for (UINT style : StandardIconStyles) {
        if (StandardMessageBoxIcon(style) == icon)
            return style;
    }
    return UnknownIcon;
}

} // namespace

HWND WaitForWindow(const char* className, const char* caption, DWORD timeoutMs)
{
    return WaitForProcessWindow(0, className, caption, timeoutMs);
}

namespace {

HWND WaitForMatch(WindowSearch search, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
        if (search.Found != nullptr)
            return search.Found;
        if (GetTickCount() - start >= timeoutMs)
            return nullptr;
        Sleep(PollMs);
    }
}

} // namespace

HWND WaitForProcessWindow(DWORD processId, const char* className, const char* caption, DWORD timeoutMs)
{
    return WaitForMatch({className, caption, processId, nullptr, nullptr}, timeoutMs);
}

HWND WaitForOwnedWindow(HWND owner, const char* className, DWORD timeoutMs)
{
    return WaitForMatch({className, nullptr, 0, owner, nullptr}, timeoutMs);
}

bool WaitForWindowGone(HWND window, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (IsWindow(window)) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(PollMs);
    }
    return true;
}

MessageBoxContent ReadMessageBox(HWND box, DWORD iconTimeoutMs)
{
    MessageBoxContent content;
    // A box found as it appears may still be in its initialisation, caption and texts not all set:
    // its thread answers a sent message only once that is over.
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(box, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &answer);
    content.Caption = WindowText(box);
    ChildSearch search = {&content, nullptr};
    EnumChildWindows(box, CollectChild, reinterpret_cast<LPARAM>(&search));
    if (search.IconControl == nullptr)
        return content;

    DWORD owner = 0;
    GetWindowThreadProcessId(box, &owner);
    if (owner == GetCurrentProcessId()) {
        content.IconStyle = IconStyleByHandle(content.Icon);
        return content;
    }
    // Icon handles mean nothing across processes: compare what the box has painted instead.
    DWORD start = GetTickCount();
    for (;;) {
        content.IconStyle = IconStyleOnScreen(search.IconControl);
        if (content.IconStyle != UnknownIcon || GetTickCount() - start >= iconTimeoutMs)
            return content;
        Sleep(PollMs);
    }
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

UINT IconStyleOnScreen(HWND iconControl)
{
    RECT client;
    if (!GetClientRect(iconControl, &client) || client.right <= 0 || client.bottom <= 0)
        return UnknownIcon;
    POINT origin = {0, 0};
    ClientToScreen(iconControl, &origin);
    const int width = client.right;
    const int height = client.bottom;

    HDC screen = GetDC(nullptr);
    PixelCanvas shot(screen, width, height);
    BitBlt(shot.Dc, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
    UINT match = UnknownIcon;
    for (UINT style : StandardIconStyles) {
        // The static control fills its background, then draws the icon stretched to its size;
        // the icons' corners are transparent, so a corner shows the background.
        PixelCanvas drawn(screen, width, height);
        const DWORD corner = shot.Pixel(0, 0);
        HBRUSH background = CreateSolidBrush(RGB((corner >> 16) & 0xff, (corner >> 8) & 0xff, corner & 0xff));
        RECT all = {0, 0, width, height};
        FillRect(drawn.Dc, &all, background);
        DeleteObject(background);
        DrawIconEx(drawn.Dc, 0, 0, StandardMessageBoxIcon(style), width, height, 0, nullptr, DI_NORMAL);
        GdiFlush();
        bool same = true;
        for (int y = 0; y < height && same; ++y) {
            for (int x = 0; x < width && same; ++x)
                same = shot.Pixel(x, y) == drawn.Pixel(x, y);
        }
        if (same) {
            match = style;
            break;
        }
    }
    ReleaseDC(nullptr, screen);
    return match;
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

bool IsControlEnabled(HWND dialog, int controlId)
{
    HWND control = GetDlgItem(dialog, controlId);
    return control != nullptr && IsWindowEnabled(control);
}

bool WaitForControlEnabled(HWND dialog, int controlId, bool enabled, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (IsControlEnabled(dialog, controlId) != enabled) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(PollMs);
    }
    return true;
}

void PressButton(HWND dialog, int controlId)
{
    HWND button = GetDlgItem(dialog, controlId);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

void PressEscape(HWND window)
{
    // The dialog manager turns Escape into IDCANCEL when the key reaches the window or a child.
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    HWND target = window;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) && info.hwndFocus != nullptr &&
        (info.hwndFocus == window || IsChild(window, info.hwndFocus)))
        target = info.hwndFocus;
    const LPARAM scanCode = MapVirtualKeyA(VK_ESCAPE, 0) << 16;
    PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, scanCode | 1);
    PostMessageA(target, WM_KEYUP, VK_ESCAPE, scanCode | 1 | (1u << 30) | (1u << 31));
}

void PressSheetButton(HWND sheet, int button) { PostMessageA(sheet, PSM_PRESSBUTTON, button, 0); }

HWND CurrentSheetPage(HWND sheet)
{
    DWORD_PTR page = 0;
    if (!SendMessageTimeoutA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0, SMTO_ABORTIFHUNG, 5000, &page))
        return nullptr;
    return reinterpret_cast<HWND>(page);
}

HWND WaitForSheetPageChange(HWND sheet, HWND previous, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND page = CurrentSheetPage(sheet);
        if (page != nullptr && page != previous)
            return page;
        if (GetTickCount() - start >= timeoutMs)
            return nullptr;
        Sleep(PollMs);
    }
}

bool FinishWizardWithDefaults(DWORD processId, DWORD timeoutMs)
{
    HWND sheet = WaitForProcessWindow(processId, DialogClass, "Welcome", timeoutMs);
    if (sheet == nullptr)
        return false;
    HWND page = CurrentSheetPage(sheet);
    for (int i = 0; i < 2; ++i) {
        PressSheetButton(sheet, PSBTN_NEXT);
        page = WaitForSheetPageChange(sheet, page, timeoutMs);
        if (page == nullptr)
            return false;
    }
    PressSheetButton(sheet, PSBTN_FINISH);
    return true;
}
