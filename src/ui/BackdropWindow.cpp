#include "ui/BackdropWindow.h"

#include "core/ProductVersion.h"
#include "core/SetupState.h"
#include "ui/WindowStop.h"
#include "resource.h"

#include <stdio.h>

const char SetupTitle[] = "TALVIQ Project Zorvane 2 Demo Setup";
const char UninstallTitle[] = "TALVIQ Project Zorvane 2 Demo Uninstall";
const char BackdropClassName[] = "PZSetupClass";
const char MakerNotice[] = "Copyright \xA9 2019-2026 by TALVIQ";

namespace {

const char VersionFormat[] = "TALVIQ Project Zorvane version %d.%d.%d";
const int VersionMajor = PRODUCT_VERSION_MAJOR;
const int VersionMinor = PRODUCT_VERSION_MINOR;
const int VersionBuild = PRODUCT_VERSION_BUILD;

// The notice is drawn with this fixed length.
const int MakerNoticeLength = 31;
static_assert(sizeof MakerNotice - 1 == MakerNoticeLength, "the notice is one line of 31 characters");

const int GradientBands = 255;
const UINT RunWorkMessage = WM_APP + 3;
const int TextLeft = 35;
const int TitleTop = 35;
const int ShadowOffset = 4;
const int BottomMargin = 35;

// The title the backdrop paints, as the driver told it.
bool PaintsUninstallTitle;

HFONT CreateBackdropFont(int height, int weight, BOOL italic, const char* face)
{
    return CreateFontA(height, 0, 0, 0, weight, italic, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, face);
}

} // namespace

void PaintBackdrop(HDC dc, const RECT& client)
{
    HFONT titleFont = CreateBackdropFont(-32, FW_BOLD, TRUE, "Times New Roman");
    HFONT smallFont = CreateBackdropFont(-8, FW_DONTCARE, FALSE, "MS Sans Serif");
    const char* title = PaintsUninstallTitle ? UninstallTitle : SetupTitle;
    const int titleLength = lstrlenA(title);

    // Band i spans (i * height) / 255 to ((i + 1) * height) / 255, so the bands tile the client
    // area exactly; below 255 units some of them are empty.
    const int height = client.bottom - client.top;
    int scaledTop = 0;
    for (int i = 0; i < GradientBands; ++i) {
        RECT band = {client.left, client.top + scaledTop / GradientBands, client.right,
                     client.top + (scaledTop + height) / GradientBands};
        scaledTop += height;
        HBRUSH brush = CreateSolidBrush(RGB(0, 0, 255 - i));
        FillRect(dc, &band, brush);
        DeleteObject(brush);
    }

    HGDIOBJ previousFont = SelectObject(dc, titleFont);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    TextOutA(dc, TextLeft + ShadowOffset, TitleTop + ShadowOffset, title, titleLength);
    SetTextColor(dc, RGB(255, 255, 255));
    TextOutA(dc, TextLeft, TitleTop, title, titleLength);

    // The two bottom lines are placed by the small font's line height.
    SelectObject(dc, smallFont);
    SIZE letter = {};
    GetTextExtentPoint32A(dc, "W", 1, &letter);
    char version[64];
    const int versionLength =
        snprintf(version, sizeof version, VersionFormat, VersionMajor, VersionMinor, VersionBuild);
    const int versionTop = client.bottom - (24 * letter.cy) / 10 - BottomMargin;
    TextOutA(dc, TextLeft, versionTop, version, versionLength);
    TextOutA(dc, TextLeft, versionTop + (12 * letter.cy) / 10, MakerNotice, MakerNoticeLength);

    SelectObject(dc, previousFont);
    DeleteObject(titleFont);
    DeleteObject(smallFont);
}

LRESULT CALLBACK BackdropWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE && CloseMeansStop()) {
        NoteStopAsked();
        return 0;
    }
    if (message == RunWorkMessage)
        return reinterpret_cast<WindowThreadWork>(lParam)(window, wParam);
    if (message != WM_ERASEBKGND)
        return DefWindowProcA(window, message, wParam, lParam);
    RECT client;
    GetClientRect(window, &client);
    PaintBackdrop(reinterpret_cast<HDC>(wParam), client);
    return 1;
}

LRESULT RunOnWindowThread(HWND backdrop, WindowThreadWork work, WPARAM argument)
{
    return SendMessageA(backdrop, RunWorkMessage, argument, reinterpret_cast<LPARAM>(work));
}

void RegisterBackdropClass()
{
    WNDCLASSA windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = BackdropWindowProc;
    windowClass.hInstance = ModuleInstance;
    windowClass.hIcon = LoadIconA(ModuleInstance, MAKEINTRESOURCEA(IDI_SETUP));
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = BackdropClassName;
    RegisterClassA(&windowClass);
}

void SetBackdropTitle(bool uninstall) { PaintsUninstallTitle = uninstall; }

HWND CreateBackdropWindow()
{
    return CreateWindowExA(0, BackdropClassName, SetupTitle, WS_POPUP | WS_VISIBLE, 0, 0,
                           GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr,
                           ModuleInstance, nullptr);
}
