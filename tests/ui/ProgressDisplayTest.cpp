#include "ui/ProgressDisplay.h"

#include "resource.h"
#include "uidriver/UiDriver.h"

#include <commctrl.h>

#include <gtest/gtest.h>

namespace {

class ProgressDisplayTest : public testing::Test {
protected:
    // One owner for the whole suite: under Wine without a window manager, destroying a framed
    // window waits two seconds for a withdrawal that never comes.
    static void SetUpTestSuite()
    {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        // Placed off the screen's centre, so that centring on the owner would show.
        Owner = CreateWindowExA(0, "Static", "Progress owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300,
                                200, nullptr, nullptr, nullptr, nullptr);
    }

    static void TearDownTestSuite() { DestroyWindow(Owner); }

    void SetUp() override
    {
        ASSERT_NE(Owner, nullptr);
        Dialog = CreateProgressDisplay(Owner);
        ASSERT_NE(Dialog, nullptr);
    }

    void TearDown() override { DestroyWindow(Dialog); }

    int BarPosition()
    {
        return static_cast<int>(SendDlgItemMessageA(Dialog, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0));
    }

    // Dispatches every message already queued for this thread, as a modal loop would.
    void DispatchPendingMessages()
    {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (!IsDialogMessageA(Dialog, &message)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
    }

    static HWND Owner;
    HWND Dialog = nullptr;
};

HWND ProgressDisplayTest::Owner = nullptr;

struct ExpectedControl {
    int Id;
    const char* ClassName;
    LONG Style;
    RECT Units; // x, y, width, height in dialog units, each mapped to pixels on its own
    const char* Text;
};

TEST_F(ProgressDisplayTest, TemplateGivesCaptionFrameFontAndEveryControl)
{
    EXPECT_EQ(WindowText(Dialog), "Installing TALVIQ Project Zorvane...");
    EXPECT_EQ(GetWindow(Dialog, GW_OWNER), Owner);
    EXPECT_TRUE(IsWindowVisible(Dialog));
    LONG style = GetWindowLongA(Dialog, GWL_STYLE);
    LONG wanted = WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME | DS_CENTER | DS_SETFONT | DS_3DLOOK |
                  DS_CONTEXTHELP;
    EXPECT_EQ(style & wanted, wanted);
    EXPECT_EQ(style & WS_SYSMENU, 0) << "a system menu would add a close box";

    RECT size = {0, 0, 314, 53};
    MapDialogRect(Dialog, &size);
    RECT client;
    GetClientRect(Dialog, &client);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);

    LOGFONTA font = {};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(Dialog, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_STREQ(font.lfFaceName, "MS Sans Serif");
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(font.lfHeight, -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72));
    ReleaseDC(nullptr, screen);

    const ExpectedControl expected[] = {
        {IDCANCEL, "Button", BS_PUSHBUTTON | BS_CENTER | WS_TABSTOP, {252, 26, 50, 14}, "Cancel"},
        {IDC_STATIC, "Static", SS_ETCHEDFRAME, {4, 4, 304, 43}, "Frame1"},
        {IDC_STATIC, "Static", SS_LEFT, {12, 13, 44, 8}, "Installing file:"},
        {IDC_PROGRESS_STATUS, "Static", SS_LEFT, {60, 13, 184, 8}, ""},
        {IDC_PROGRESS_BAR, "msctls_progress32", 0, {12, 29, 232, 9}, ""},
    };
    HWND control = GetWindow(Dialog, GW_CHILD);
    for (const ExpectedControl& want : expected) {
        ASSERT_NE(control, nullptr) << "missing control " << want.Text;
        SCOPED_TRACE(want.ClassName + std::string(" ") + want.Text);
        char className[64];
        GetClassNameA(control, className, sizeof className);
        EXPECT_EQ(lstrcmpiA(className, want.ClassName), 0) << className;
        // Dialog templates hold 16-bit ids: -1 reads back as 0xFFFF.
        EXPECT_EQ(GetDlgCtrlID(control), static_cast<WORD>(want.Id));
        // A focused push button is shown as the default one; that is the dialog manager's doing.
        LONG controlStyle = GetWindowLongA(control, GWL_STYLE);
        if (want.Id == IDCANCEL)
            controlStyle &= ~BS_DEFPUSHBUTTON;
        EXPECT_EQ(controlStyle, WS_CHILD | WS_VISIBLE | want.Style);
        RECT place = want.Units;
        MapDialogRect(Dialog, &place);
        RECT actual;
        GetWindowRect(control, &actual);
        MapWindowPoints(nullptr, Dialog, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(actual.left, place.left);
        EXPECT_EQ(actual.top, place.top);
        EXPECT_EQ(actual.right - actual.left, place.right);
        EXPECT_EQ(actual.bottom - actual.top, place.bottom);
        EXPECT_EQ(WindowText(control), want.Text);
        control = GetWindow(control, GW_HWNDNEXT);
    }
    EXPECT_EQ(control, nullptr) << "a control more than the template holds";
}

TEST_F(ProgressDisplayTest, StartsEmptyAtZeroOfAHundredAndShowsEachUpdate)
{
    PBRANGE range = {};
    SendDlgItemMessageA(Dialog, IDC_PROGRESS_BAR, PBM_GETRANGE, 0, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 100);
    EXPECT_EQ(BarPosition(), 0);
    EXPECT_EQ(ControlText(Dialog, IDC_PROGRESS_STATUS), "");

    SetProgressStatus(Dialog, "TALVIQ Project Zorvane 2 PE Demo");
    SetProgressPosition(Dialog, 37);
    EXPECT_EQ(ControlText(Dialog, IDC_PROGRESS_STATUS), "TALVIQ Project Zorvane 2 PE Demo");
    EXPECT_EQ(BarPosition(), 37);
    SetProgressStatus(Dialog, "Creating Registry Keys...");
    SetProgressPosition(Dialog, 100);
    EXPECT_EQ(ControlText(Dialog, IDC_PROGRESS_STATUS), "Creating Registry Keys...");
    EXPECT_EQ(BarPosition(), 100);
}

TEST_F(ProgressDisplayTest, CentredOnTheWorkAreaOfItsMonitor)
{
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    ASSERT_TRUE(GetMonitorInfoA(MonitorFromWindow(Owner, MONITOR_DEFAULTTONEAREST), &monitor));
    RECT frame;
    GetWindowRect(Dialog, &frame);
    LONG workCentreX = (monitor.rcWork.left + monitor.rcWork.right) / 2;
    LONG workCentreY = (monitor.rcWork.top + monitor.rcWork.bottom) / 2;
    EXPECT_LE(labs((frame.left + frame.right) / 2 - workCentreX), 1);
    EXPECT_LE(labs((frame.top + frame.bottom) / 2 - workCentreY), 1);
}

TEST_F(ProgressDisplayTest, CancelLeavesTheDialogAsItWas)
{
    SetProgressStatus(Dialog, "Readme.txt");
    SetProgressPosition(Dialog, 12);
    PressButton(Dialog, IDCANCEL);
    SendDlgItemMessageA(Dialog, IDCANCEL, BM_CLICK, 0, 0);
    DispatchPendingMessages();
    ASSERT_TRUE(IsWindow(Dialog));
    EXPECT_TRUE(IsWindowVisible(Dialog));
    EXPECT_EQ(ControlText(Dialog, IDC_PROGRESS_STATUS), "Readme.txt");
    EXPECT_EQ(BarPosition(), 12);
}

} // namespace
