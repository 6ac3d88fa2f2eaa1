// The backdrop painted into device contexts of known size, and its window and class.
#include "ui/BackdropWindow.h"

#include "driver/SetupState.h"
#include "resource.h"
#include "support/UiDriver.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

// A top-down 32-bit picture of known size selected into a memory device context.
class Canvas {
public:
    Canvas(int width, int height) : Width(width), Height(height)
    {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        Dc = CreateCompatibleDC(nullptr);
        Bitmap = CreateDIBSection(Dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&Bits), nullptr, 0);
        Previous = SelectObject(Dc, Bitmap);
        // A colour the backdrop never paints, so that unpainted pixels show.
        for (int i = 0; i < width * height; ++i)
            Bits[i] = 0xff00ff;
    }
    ~Canvas()
    {
        SelectObject(Dc, Previous);
        DeleteObject(Bitmap);
        DeleteDC(Dc);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    int Red(int x, int y) const { return (Pixel(x, y) >> 16) & 0xff; }
    int Blue(int x, int y) const { return Pixel(x, y) & 0xff; }
    DWORD Pixel(int x, int y) const
    {
        GdiFlush();
        return Bits[y * Width + x] & 0xffffff;
    }

    const int Width;
    const int Height;
    HDC Dc;

private:
    HBITMAP Bitmap;
    HGDIOBJ Previous;
    DWORD* Bits = nullptr;
};

// The smallest rectangle holding a set of pixels (right and bottom inclusive).
struct Box {
    int Left = INT_MAX, Top = INT_MAX, Right = -1, Bottom = -1;
    void Add(int x, int y)
    {
        Left = x < Left ? x : Left;
        Top = y < Top ? y : Top;
        Right = x > Right ? x : Right;
        Bottom = y > Bottom ? y : Bottom;
    }
    Box Moved(int dx, int dy) const { return {Left + dx, Top + dy, Right + dx, Bottom + dy}; }
    bool operator==(const Box& other) const
    {
        return Left == other.Left && Top == other.Top && Right == other.Right && Bottom == other.Bottom;
    }
};

std::ostream& operator<<(std::ostream& out, const Box& box)
{
    return out << "(" << box.Left << "," << box.Top << ")-(" << box.Right << "," << box.Bottom << ")";
}

// The backdrop's two fonts as the design gives them.
HFONT TitleFont()
{
    return CreateFontA(-32, 0, 0, 0, 700, TRUE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, "Times New Roman");
}

HFONT SmallFont()
{
    return CreateFontA(-8, 0, 0, 0, 0, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, "MS Sans Serif");
}

// Where text drawn at the origin in font lights pixels.
Box InkOf(const std::string& text, HFONT font)
{
    Canvas canvas(800, 100);
    RECT all = {0, 0, canvas.Width, canvas.Height};
    FillRect(canvas.Dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    HGDIOBJ previous = SelectObject(canvas.Dc, font);
    SetBkMode(canvas.Dc, TRANSPARENT);
    SetTextColor(canvas.Dc, RGB(255, 255, 255));
    TextOutA(canvas.Dc, 0, 0, text.c_str(), static_cast<int>(text.size()));
    SelectObject(canvas.Dc, previous);
    DeleteObject(font);
    Box ink;
    for (int y = 0; y < canvas.Height; ++y) {
        for (int x = 0; x < canvas.Width; ++x) {
            if (canvas.Red(x, y) > 0)
                ink.Add(x, y);
        }
    }
    return ink;
}

// Height of "W" in the small font: it places the two bottom lines.
int SmallLetterHeight()
{
    HDC screen = GetDC(nullptr);
    HFONT font = SmallFont();
    HGDIOBJ previous = SelectObject(screen, font);
    SIZE size = {};
    GetTextExtentPoint32A(screen, "W", 1, &size);
    SelectObject(screen, previous);
    DeleteObject(font);
    ReleaseDC(nullptr, screen);
    return size.cy;
}

TEST(PaintBackdrop, At765UnitsGives255BandsOfThreeFromBlue255DownTo1)
{
    Canvas canvas(1000, 765);
    PaintBackdrop(canvas.Dc, {0, 0, 1000, 765});
    for (int y = 0; y < 765; ++y) {
        // The right edge and the left edge between the title and the bottom lines show the gradient.
        ASSERT_EQ(canvas.Pixel(999, y), static_cast<DWORD>(255 - y / 3)) << "row " << y;
        if (y > 100 && y < 600) {
            ASSERT_EQ(canvas.Pixel(0, y), static_cast<DWORD>(255 - y / 3)) << "row " << y;
        }
    }
}

TEST(PaintBackdrop, Under255UnitsSomeBandsAreEmptyAndTheRestStillDescend)
{
    // At 100 units bands 0 and 1 are empty: the top row takes band 2, the bottom row band 254.
    Canvas canvas(1000, 100);
    PaintBackdrop(canvas.Dc, {0, 0, 1000, 100});
    EXPECT_EQ(canvas.Pixel(999, 0), 253u);
    EXPECT_EQ(canvas.Pixel(999, 99), 1u);
    for (int y = 1; y < 100; ++y) {
        ASSERT_EQ(canvas.Pixel(999, y) & 0xffff00, 0u) << "row " << y << " is not blue";
        ASSERT_LT(canvas.Blue(999, y), canvas.Blue(999, y - 1)) << "row " << y;
    }
}

class BackdropWindowTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ModuleInstance = GetModuleHandleA(nullptr);
        RegisterBackdropClass();
        Window = CreateBackdropWindow();
    }

    static void TearDownTestSuite() { DestroyWindow(Window); }

    void SetUp() override { ASSERT_NE(Window, nullptr); }
    void TearDown() override { UninstallMode = 0; }

    static HWND Window;
};

HWND BackdropWindowTest::Window = nullptr;

TEST_F(BackdropWindowTest, CoversTheScreenAsABorderlessPopupWithTheSetupIcon)
{
    RECT frame;
    GetWindowRect(Window, &frame);
    EXPECT_EQ(frame.left, 0);
    EXPECT_EQ(frame.top, 0);
    EXPECT_EQ(frame.right, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(frame.bottom, GetSystemMetrics(SM_CYSCREEN));
    EXPECT_EQ(GetWindowLongA(Window, GWL_STYLE) & ~WS_CLIPSIBLINGS, WS_POPUP | WS_VISIBLE);
    EXPECT_EQ(WindowText(Window), "TALVIQ Project Zorvane 2 Demo Setup");

    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    ASSERT_TRUE(GetClassInfoExA(ModuleInstance, "PZSetupClass", &windowClass));
    EXPECT_EQ(windowClass.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
    EXPECT_EQ(windowClass.hbrBackground, GetStockObject(BLACK_BRUSH));
    EXPECT_EQ(windowClass.hCursor, nullptr);
    EXPECT_NE(windowClass.hIcon, nullptr);
    EXPECT_EQ(windowClass.hIcon, LoadIconA(ModuleInstance, MAKEINTRESOURCEA(IDI_SETUP)));
}

TEST_F(BackdropWindowTest, PaintsTheTitleOfItsModeInWhiteOverAShadowAndKeepsItsText)
{
    const char* titles[] = {"TALVIQ Project Zorvane 2 Demo Setup", "TALVIQ Project Zorvane 2 Demo Uninstall"};
    for (int mode = 0; mode < 2; ++mode) {
        SCOPED_TRACE(mode);
        UninstallMode = mode;
        RECT client;
        GetClientRect(Window, &client);
        Canvas canvas(client.right, client.bottom);
        EXPECT_EQ(SendMessageA(Window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(canvas.Dc), 0), 1);
        EXPECT_EQ(WindowText(Window), "TALVIQ Project Zorvane 2 Demo Setup");

        // White ink has red in it; the shadow darkens the blue of its band and adds no red.
        Box white, shadow;
        bool pureWhite = false, pureBlack = false;
        for (int y = 0; y < 120; ++y) {
            const int band = canvas.Blue(canvas.Width - 1, y);
            for (int x = 0; x < canvas.Width; ++x) {
                if (canvas.Red(x, y) > 0)
                    white.Add(x, y);
                else if (canvas.Blue(x, y) < band)
                    shadow.Add(x, y);
                pureWhite = pureWhite || canvas.Pixel(x, y) == 0xffffff;
                pureBlack = pureBlack || canvas.Pixel(x, y) == 0;
            }
        }
        EXPECT_EQ(white, InkOf(titles[mode], TitleFont()).Moved(35, 35));
        EXPECT_EQ(shadow.Right, white.Right + 4);
        EXPECT_EQ(shadow.Bottom, white.Bottom + 4);
        EXPECT_GT(shadow.Left, white.Left);
        EXPECT_GT(shadow.Top, white.Top);
        EXPECT_TRUE(pureWhite);
        EXPECT_TRUE(pureBlack);
    }
}

TEST_F(BackdropWindowTest, PlacesTheVersionLineAndTheNoticeByTheSmallFontsHeight)
{
    EXPECT_EQ(strlen(MakerNotice), 31u);
    const int cy = SmallLetterHeight();
    for (int mode = 0; mode < 2; ++mode) {
        SCOPED_TRACE(mode);
        UninstallMode = mode;
        RECT client;
        GetClientRect(Window, &client);
        Canvas canvas(client.right, client.bottom);
        SendMessageA(Window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(canvas.Dc), 0);

        const int versionTop = client.bottom - (24 * cy) / 10 - 35;
        const int noticeTop = versionTop + (12 * cy) / 10;
        Box version, notice;
        for (int y = versionTop - 5; y < canvas.Height; ++y) {
            for (int x = 0; x < canvas.Width; ++x) {
                if (canvas.Red(x, y) > 0)
                    (y < noticeTop ? version : notice).Add(x, y);
            }
        }
        EXPECT_EQ(version,
                  InkOf("TALVIQ Project Zorvane version 2.6.213", SmallFont()).Moved(35, versionTop));
        EXPECT_EQ(notice, InkOf(MakerNotice, SmallFont()).Moved(35, noticeTop));
    }
}

} // namespace
