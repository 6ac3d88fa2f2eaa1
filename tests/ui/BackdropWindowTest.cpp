// The backdrop painted into device contexts of known size.
#include "ui/BackdropWindow.h"

#include "core/SetupState.h"
#include "resource.h"
#include "uidriver/UiDriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

// A top-down 32-bit picture selected into a memory device context.
struct Canvas {
    Canvas(int width, int height) : Width(width), Height(height)
    {
        BITMAPINFO info = {{sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
        Dc = CreateCompatibleDC(nullptr);
        Bitmap = CreateDIBSection(Dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&Bits), nullptr, 0);
        SelectObject(Dc, Bitmap);
    }
    ~Canvas()
    {
        DeleteDC(Dc);
        DeleteObject(Bitmap);
    }
    DWORD Pixel(int x, int y) const { return (GdiFlush(), Bits[y * Width + x] & 0xffffff); }

    int Width, Height;
    HDC Dc;
    HBITMAP Bitmap;
    DWORD* Bits = nullptr;
};

// Bounding box (right and bottom inclusive) of the pixels in rows top to bottom - 1 that are ink:
// white ink has red in it, the gradient none; the shadow darkens the blue of its band, which the
// right edge shows.
RECT Ink(const Canvas& canvas, int top, int bottom, bool shadow = false)
{
    RECT box = {canvas.Width, bottom, -1, -1};
    for (int y = top; y < bottom; ++y) {
        for (int x = 0; x < canvas.Width; ++x) {
            const DWORD pixel = canvas.Pixel(x, y);
            if (shadow ? pixel < canvas.Pixel(canvas.Width - 1, y) : (pixel >> 16) > 0)
                box = {std::min<LONG>(box.left, x), std::min<LONG>(box.top, y), std::max<LONG>(box.right, x),
                       y};
        }
    }
    return box;
}

std::string Text(const RECT& box)
{
    return std::to_string(box.left) + "," + std::to_string(box.top) + " - " + std::to_string(box.right) +
           "," + std::to_string(box.bottom);
}

// Where text drawn in white at (x, y) in the font of the design puts ink.
RECT ExpectedInk(const Canvas& like, const char* text, int height, int weight, BOOL italic, const char* face,
                 int x, int y)
{
    Canvas canvas(like.Width, like.Height);
    HFONT font = CreateFontA(height, 0, 0, 0, weight, italic, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, face);
    SelectObject(canvas.Dc, font);
    SetTextColor(canvas.Dc, RGB(255, 255, 255));
    SetBkColor(canvas.Dc, RGB(0, 0, 0));
    TextOutA(canvas.Dc, x, y, text, lstrlenA(text));
    RECT ink = Ink(canvas, 0, canvas.Height);
    SelectObject(canvas.Dc, GetStockObject(SYSTEM_FONT));
    DeleteObject(font);
    return ink;
}

TEST(PaintBackdrop, BandsRunFromBlue255DownTo1AndTileTheHeight)
{
    Canvas tall(1000, 765);
    PaintBackdrop(tall.Dc, {0, 0, 1000, 765});
    for (int y = 0; y < 765; ++y)
        ASSERT_EQ(tall.Pixel(999, y), static_cast<DWORD>(255 - y / 3)) << "row " << y;

    // Below 255 units some bands are empty: at 100, bands 0 and 1, so the top row shows band 2.
    Canvas low(1000, 100);
    PaintBackdrop(low.Dc, {0, 0, 1000, 100});
    EXPECT_EQ(low.Pixel(999, 0), 253u);
    EXPECT_EQ(low.Pixel(999, 99), 1u);
    for (int y = 1; y < 100; ++y)
        ASSERT_LT(low.Pixel(999, y), low.Pixel(999, y - 1)) << "row " << y;
}

TEST(BackdropWindow, PaintsTheTitleOfItsModeOverAShadowAndTheBottomLinesByTheSmallFontsHeight)
{
    ModuleInstance = GetModuleHandleA(nullptr);
    RegisterBackdropClass();
    HWND window = CreateBackdropWindow();
    ASSERT_NE(window, nullptr);
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(GetClassLongPtrA(window, GCLP_HICON),
              reinterpret_cast<ULONG_PTR>(LoadIconA(ModuleInstance, MAKEINTRESOURCEA(IDI_SETUP))));

    Canvas measure(1, 1);
    SelectObject(measure.Dc, CreateFontA(-8, 0, 0, 0, 0, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "MS Sans Serif"));
    SIZE letter;
    GetTextExtentPoint32A(measure.Dc, "W", 1, &letter);
    DeleteObject(SelectObject(measure.Dc, GetStockObject(SYSTEM_FONT)));
    const int versionTop = client.bottom - 24 * letter.cy / 10 - 35;
    const int noticeTop = versionTop + 12 * letter.cy / 10;

    const char* titles[] = {"TALVIQ Project Zorvane 2 Demo Setup", "TALVIQ Project Zorvane 2 Demo Uninstall"};
    for (int uninstall = 0; uninstall < 2; ++uninstall) {
        SCOPED_TRACE(uninstall);
        SetBackdropTitle(uninstall == 1);
        Canvas canvas(client.right, client.bottom);
        EXPECT_EQ(SendMessageA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(canvas.Dc), 0), 1);
        EXPECT_EQ(WindowText(window), titles[0]);

        const RECT title = Ink(canvas, 0, 120);
        EXPECT_EQ(Text(title),
                  Text(ExpectedInk(canvas, titles[uninstall], -32, 700, TRUE, "Times New Roman", 35, 35)));
        const RECT shadow = Ink(canvas, 0, 120, true);
        EXPECT_EQ(shadow.right, title.right + 4);
        EXPECT_EQ(shadow.bottom, title.bottom + 4);

        EXPECT_EQ(Text(Ink(canvas, versionTop - 5, noticeTop)),
                  Text(ExpectedInk(canvas, "TALVIQ Project Zorvane version 2.6.213", -8, 0, FALSE,
                                   "MS Sans Serif", 35, versionTop)));
        EXPECT_EQ(Text(Ink(canvas, noticeTop, canvas.Height)),
                  Text(ExpectedInk(canvas, MakerNotice, -8, 0, FALSE, "MS Sans Serif", 35, noticeTop)));
    }
    EXPECT_EQ(strlen(MakerNotice), 31u);
    SetBackdropTitle(false);
    DestroyWindow(window);
}

} // namespace
