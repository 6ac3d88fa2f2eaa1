// The install wizard on the real property sheet and folder browser, driven from a second thread
// as a user would drive it.
#include "ui/InstallWizard.h"

#include "driver/SetupState.h"
#include "resource.h"
#include "support/ScopedTempDir.h"
#include "support/UiDriver.h"
#include "ui/BackdropWindow.h"

#include <commctrl.h>
#include <objbase.h>
#include <prsht.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

const int BackButtonId = 0x3023;
const int NextButtonId = 0x3024;
const int FinishButtonId = 0x3025;

const char DefaultFolder[] = "C:\\Program Files";

// What a wizard button shows.
struct ButtonState {
    bool Visible;
    bool Enabled;
    bool operator==(const ButtonState& other) const
    {
        return Visible == other.Visible && Enabled == other.Enabled;
    }
};

struct WizardButtons {
    ButtonState Back, Next, Finish;
    bool operator==(const WizardButtons& other) const
    {
        return Back == other.Back && Next == other.Next && Finish == other.Finish;
    }
};

std::ostream& operator<<(std::ostream& out, const WizardButtons& buttons)
{
    const ButtonState* all[] = {&buttons.Back, &buttons.Next, &buttons.Finish};
    for (const ButtonState* button : all)
        out << (button->Visible ? (button->Enabled ? "on " : "off ") : "hidden ");
    return out;
}

ButtonState ReadButton(HWND sheet, int id)
{
    HWND button = GetDlgItem(sheet, id);
    return {button != nullptr && IsWindowVisible(button) != 0, IsControlEnabled(sheet, id)};
}

WizardButtons ReadButtons(HWND sheet)
{
    return {ReadButton(sheet, BackButtonId), ReadButton(sheet, NextButtonId),
            ReadButton(sheet, FinishButtonId)};
}

const WizardButtons WelcomeButtons = {{true, false}, {true, true}, {false, false}};
const WizardButtons LicenseButtons = {{true, true}, {true, true}, {false, false}};
const WizardButtons DestinationButtons = {{true, true}, {false, false}, {true, true}};

// The page posts its buttons to the sheet: they change a moment after the page shows.
WizardButtons WaitForButtons(HWND sheet, const WizardButtons& wanted)
{
    DWORD start = GetTickCount();
    WizardButtons seen = ReadButtons(sheet);
    while (!(seen == wanted) && GetTickCount() - start < 5000) {
        Sleep(20);
        seen = ReadButtons(sheet);
    }
    return seen;
}

// The text of a control of this process, waiting as long as its thread takes to answer: unlike
// WindowText, never empty because that thread was busy.
std::string ReadText(HWND control)
{
    char text[MAX_PATH + 64] = "";
    GetWindowTextA(control, text, sizeof text);
    return text;
}

std::string WaitForText(HWND control, const std::string& wanted, DWORD timeoutMs = 5000)
{
    DWORD start = GetTickCount();
    std::string seen = ReadText(control);
    while (seen != wanted && GetTickCount() - start < timeoutMs) {
        Sleep(20);
        seen = ReadText(control);
    }
    return seen;
}

std::string Joined(const std::string& folder)
{
    return folder + (folder.back() == '\\' ? "" : "\\") + ProductFolderSuffix;
}

// Creates base and folders below it to make a path of exactly length characters.
std::string MakeFolderOfLength(const std::string& base, size_t length)
{
    std::string path = base;
    if (!CreateDirectoryA(path.c_str(), nullptr))
        ADD_FAILURE() << "cannot create " << path;
    while (path.size() < length) {
        // Each name takes a backslash and at least one character; none longer than 101.
        size_t left = length - path.size();
        size_t name = left <= 102 ? left - 1 : (left == 103 ? 50 : 101);
        path += "\\" + std::string(name, 'd');
        if (!CreateDirectoryA(path.c_str(), nullptr))
            ADD_FAILURE() << "cannot create " << path;
    }
    return path;
}

class InstallWizardTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ModuleInstance = GetModuleHandleA(nullptr);
        InitCommonControls();
        CoInitialize(nullptr);
        WizardBitmap = static_cast<HBITMAP>(LoadImageA(ModuleInstance, MAKEINTRESOURCEA(IDB_WIZARD),
                                                       IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        RegisterBackdropClass();
        Backdrop = CreateBackdropWindow();
    }

    static void TearDownTestSuite()
    {
        DestroyWindow(Backdrop);
        DeleteObject(WizardBitmap);
        WizardBitmap = nullptr;
        CoUninitialize();
    }

    void SetUp() override
    {
        ASSERT_NE(WizardBitmap, nullptr);
        ASSERT_NE(Backdrop, nullptr);
        lstrcpynA(DestinationFolder, DefaultFolder, MAX_PATH);
    }

    // Runs the wizard on this thread while user drives it from a second one; the sheet is
    // cancelled if user leaves it open.
    int RunWizard(const std::function<void(HWND sheet)>& user)
    {
        std::thread driver([&] {
            HWND sheet = WaitForOwnedWindow(Backdrop, DialogClass);
            if (sheet == nullptr) {
                ADD_FAILURE() << "no wizard appeared";
                return;
            }
            user(sheet);
            if (!WaitForWindowGone(sheet)) {
                ADD_FAILURE() << "the wizard is still open";
                PressSheetButton(sheet, PSBTN_CANCEL);
            }
        });
        int result = RunInstallWizard(Backdrop);
        driver.join();
        return result;
    }

    // Presses Next or Back and returns the page then shown.
    static HWND Go(HWND sheet, int button)
    {
        HWND page = CurrentSheetPage(sheet);
        PressSheetButton(sheet, button);
        return WaitForSheetPageChange(sheet, page);
    }

    static HWND Backdrop;
};

HWND InstallWizardTest::Backdrop = nullptr;

TEST_F(InstallWizardTest, FinishWithoutBrowsingJoinsTheSuffixToTheProposedFolder)
{
    int result = RunWizard([](HWND sheet) {
        Go(sheet, PSBTN_NEXT);
        Go(sheet, PSBTN_NEXT);
        PressSheetButton(sheet, PSBTN_FINISH);
    });
    EXPECT_NE(result, 0);
    EXPECT_STREQ(DestinationFolder, "C:\\Program Files\\TALVIQ\\Project Zorvane PE");
}

TEST_F(InstallWizardTest, EachPageShowsItsCaptionAndButtonsAlsoAfterBackAndNextAgain)
{
    struct Seen {
        std::string Caption;
        WizardButtons Buttons;
    };
    std::vector<Seen> seen;
    RunWizard([&](HWND sheet) {
        // Waits for the buttons the page should show, then records what is there.
        auto lookFor = [&](const WizardButtons& wanted) {
            seen.push_back({WindowText(sheet), WaitForButtons(sheet, wanted)});
        };
        lookFor(WelcomeButtons);
        Go(sheet, PSBTN_NEXT);
        lookFor(LicenseButtons);
        Go(sheet, PSBTN_NEXT);
        lookFor(DestinationButtons);
        Go(sheet, PSBTN_BACK);
        lookFor(LicenseButtons);
        Go(sheet, PSBTN_BACK);
        lookFor(WelcomeButtons);
        Go(sheet, PSBTN_NEXT);
        lookFor(LicenseButtons);
        Go(sheet, PSBTN_NEXT);
        lookFor(DestinationButtons);
        PressSheetButton(sheet, PSBTN_CANCEL);
    });
    const char* captions[] = {
        "Welcome", "Software License Agreement", "Choose Destination Location", "Software License Agreement",
        "Welcome", "Software License Agreement", "Choose Destination Location"};
    const WizardButtons buttons[] = {WelcomeButtons, LicenseButtons, DestinationButtons, LicenseButtons,
                                     WelcomeButtons, LicenseButtons, DestinationButtons};
    ASSERT_EQ(seen.size(), 7u);
    for (size_t i = 0; i < seen.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(seen[i].Caption, captions[i]);
        EXPECT_EQ(seen[i].Buttons, buttons[i]);
    }
}

TEST_F(InstallWizardTest, CancelOnAnyPageReturnsZeroWithoutTheSuffix)
{
    for (int nexts = 0; nexts < 3; ++nexts) {
        SCOPED_TRACE(nexts);
        lstrcpynA(DestinationFolder, DefaultFolder, MAX_PATH);
        int result = RunWizard([&](HWND sheet) {
            for (int i = 0; i < nexts; ++i)
                Go(sheet, PSBTN_NEXT);
            PressSheetButton(sheet, PSBTN_CANCEL);
        });
        EXPECT_EQ(result, 0);
        EXPECT_STREQ(DestinationFolder, DefaultFolder);
    }
}

struct ExpectedControl {
    int Id;
    const char* ClassName;
    LONG Style;
    RECT Units;       // x, y, width, height in dialog units
    const char* Text; // null: not compared here
};

struct ExpectedPage {
    std::vector<ExpectedControl> Controls;
};

const LONG BitmapStyle = SS_BITMAP | SS_CENTERIMAGE | SS_REALSIZEIMAGE | SS_SUNKEN;

const ExpectedPage ExpectedPages[] = {
    {{{IDC_WIZARD_BITMAP, "Static", BitmapStyle, {0, 0, 80, 140}, ""},
      {IDC_STATIC,
       "Static",
       SS_LEFT,
       {92, 0, 180, 26},
       "Welcome to TALVIQ Project Zorvane 2 Personal Edition Setup program. This program will install "
       "Project Zorvane 2 Personal Edition on your computer."},
      {IDC_STATIC,
       "Static",
       SS_LEFT,
       {92, 39, 180, 26},
       "Click Next to continue with the Setup program or click Cancel to quit Setup."},
      {IDC_STATIC, "Static", SS_LEFT, {92, 78, 184, 22}, ""},
      {IDC_STATIC, "Static", SS_LEFT, {92, 108, 180, 34}, ""}}},
    {{{IDC_WIZARD_BITMAP, "Static", BitmapStyle, {0, 0, 80, 140}, ""},
      {IDC_STATIC,
       "Static",
       SS_LEFT | WS_TABSTOP,
       {92, 0, 184, 17},
       "Pressing \"Next\" indicates that you agree to the terms of this License Agreement"},
      {IDC_LICENSE_TEXT,
       "Edit",
       ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY | WS_BORDER | WS_VSCROLL | WS_TABSTOP,
       {92, 22, 184, 119},
       nullptr}}},
    {{{IDC_WIZARD_BITMAP, "Static", BitmapStyle, {0, 0, 80, 140}, ""},
      {IDC_STATIC,
       "Static",
       SS_LEFT | WS_TABSTOP,
       {92, 0, 184, 17},
       "Setup will install TALVIQ Project Zorvane 2 Personal Edition in the following folder."},
      {IDC_STATIC, "Static", SS_LEFT, {92, 26, 184, 9}, "To install to this folder, click Next."},
      {IDC_STATIC,
       "Static",
       SS_LEFT,
       {92, 43, 184, 17},
       "To install to a different folder, click Browse and select another folder."},
      {IDC_STATIC,
       "Static",
       SS_LEFT,
       {92, 69, 184, 17},
       "You can choose not to install TALVIQ Project Zorvane 2 Personal Edition by clicking Cancel to exit "
       "Setup."},
      {IDC_STATIC, "Button", BS_GROUPBOX | WS_GROUP, {92, 108, 182, 30}, "Destination folder"},
      {IDC_DESTINATION_PATH, "Static", SS_LEFTNOWORDWRAP | SS_NOPREFIX, {100, 121, 124, 8}, nullptr},
      {IDC_DESTINATION_BROWSE,
       "Button",
       BS_PUSHBUTTON | BS_CENTER | WS_TABSTOP,
       {228, 119, 42, 14},
       "&Browse..."}}},
};

// Compares a live page with its template's table; returns the failures as text.
std::string CheckPage(HWND page, const ExpectedPage& expected)
{
    std::string failures;
    auto fail = [&](const std::string& what) { failures += what + "\n"; };

    RECT size = {0, 0, 276, 140};
    MapDialogRect(page, &size);
    RECT client;
    GetClientRect(page, &client);
    if (client.right != size.right || client.bottom != size.bottom)
        fail("page size " + std::to_string(client.right) + "x" + std::to_string(client.bottom));
    LOGFONTA font = {};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(page, WM_GETFONT, 0, 0)), sizeof font, &font);
    HDC screen = GetDC(nullptr);
    const LONG eightPoints = -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
    if (lstrcmpA(font.lfFaceName, "MS Sans Serif") != 0 || font.lfHeight != eightPoints)
        fail(std::string("font ") + font.lfFaceName + " " + std::to_string(font.lfHeight));

    HWND control = GetWindow(page, GW_CHILD);
    for (const ExpectedControl& want : expected.Controls) {
        std::string name = std::string(want.ClassName) + " " + std::to_string(want.Id) + " " +
                           (want.Text ? want.Text : "") + ": ";
        if (control == nullptr) {
            fail(name + "missing");
            return failures;
        }
        char className[64];
        GetClassNameA(control, className, sizeof className);
        if (lstrcmpiA(className, want.ClassName) != 0)
            fail(name + "class " + className);
        // Dialog templates hold 16-bit ids: -1 reads back as 0xFFFF.
        if (GetDlgCtrlID(control) != static_cast<WORD>(want.Id))
            fail(name + "id " + std::to_string(GetDlgCtrlID(control)));
        // A focused push button is shown as the default one: the dialog manager's doing.
        LONG style = GetWindowLongA(control, GWL_STYLE);
        if (want.Id == IDC_DESTINATION_BROWSE)
            style &= ~BS_DEFPUSHBUTTON;
        // An edit control draws its border as a sunken client edge instead.
        if (want.Id == IDC_LICENSE_TEXT && (GetWindowLongA(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0)
            style |= WS_BORDER;
        if (style != (WS_CHILD | WS_VISIBLE | want.Style))
            fail(name + "style " + std::to_string(style));
        RECT place = want.Units;
        MapDialogRect(page, &place);
        RECT actual;
        GetWindowRect(control, &actual);
        MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&actual), 2);
        if (actual.left != place.left || actual.top != place.top ||
            actual.right - actual.left != place.right || actual.bottom - actual.top != place.bottom)
            fail(name + "place " + std::to_string(actual.left) + "," + std::to_string(actual.top) + " " +
                 std::to_string(actual.right - actual.left) + "x" +
                 std::to_string(actual.bottom - actual.top));
        if (want.Text != nullptr && WindowText(control) != want.Text)
            fail(name + "text " + WindowText(control));
        control = GetWindow(control, GW_HWNDNEXT);
    }
    if (control != nullptr)
        fail("a control more than the template holds");
    if (SendDlgItemMessageA(page, IDC_WIZARD_BITMAP, STM_GETIMAGE, IMAGE_BITMAP, 0) !=
        reinterpret_cast<LRESULT>(WizardBitmap))
        fail("the picture is not WizardBitmap");
    return failures;
}

TEST_F(InstallWizardTest, PagesHoldTheirTemplatesControlsAndPicture)
{
    std::string failures[3];
    RunWizard([&](HWND sheet) {
        HWND page = CurrentSheetPage(sheet);
        for (int i = 0; i < 3; ++i) {
            failures[i] = CheckPage(page, ExpectedPages[i]);
            if (i < 2)
                page = Go(sheet, PSBTN_NEXT);
        }
        PressSheetButton(sheet, PSBTN_CANCEL);
    });
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(failures[i], "") << "page " << i + 1;
}

TEST_F(InstallWizardTest, SheetOpensCentredOverTheBackdrop)
{
    RECT sheetRect = {};
    RunWizard([&](HWND sheet) {
        GetWindowRect(sheet, &sheetRect);
        PressSheetButton(sheet, PSBTN_CANCEL);
    });
    RECT screen;
    GetWindowRect(Backdrop, &screen);
    // Odd leftovers go to the right and the bottom.
    EXPECT_EQ(sheetRect.left, (screen.right - (sheetRect.right - sheetRect.left)) / 2);
    EXPECT_EQ(sheetRect.top, (screen.bottom - (sheetRect.bottom - sheetRect.top)) / 2);
}

TEST_F(InstallWizardTest, LicensePageShowsTheTextUnchangedAndKeepsIt)
{
    std::string shown, shownAgain;
    RunWizard([&](HWND sheet) {
        HWND page = Go(sheet, PSBTN_NEXT);
        shown = ControlText(page, IDC_LICENSE_TEXT);
        Go(sheet, PSBTN_NEXT);
        page = Go(sheet, PSBTN_BACK);
        shownAgain = ControlText(page, IDC_LICENSE_TEXT);
        PressSheetButton(sheet, PSBTN_CANCEL);
    });
    EXPECT_EQ(shown, LicenseText);
    EXPECT_EQ(shownAgain, LicenseText);
}

TEST(LicenseText, IsATitleANoticeAndSectionsAToGWithCrLfBreaks)
{
    const std::string text = LicenseText;
    EXPECT_GE(text.size(), 5500u);
    EXPECT_LE(text.size(), 6500u);
    size_t breaks = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++breaks;
            EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "a line feed without a carriage return at " << i;
        } else if (text[i] == '\r') {
            EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "a lone carriage return at " << i;
        }
    }
    EXPECT_EQ(breaks, 22u);
    // Each section opens a paragraph; B and C number four items, the later ones indented by two.
    size_t at = text.find("\r\n\r\n");
    ASSERT_NE(at, std::string::npos) << "no title line";
    for (char section = 'A'; section <= 'G'; ++section) {
        size_t next = text.find(std::string("\r\n\r\n") + section + ". ", at);
        ASSERT_NE(next, std::string::npos) << "section " << section;
        at = next + 4;
        if (section == 'B' || section == 'C') {
            size_t end = text.find("\r\n\r\n", at);
            const std::string paragraph = text.substr(at, end - at);
            EXPECT_NE(paragraph.substr(0, paragraph.find("\r\n")).find(" 1. "), std::string::npos);
            EXPECT_NE(paragraph.find("\r\n  2. "), std::string::npos) << section;
            EXPECT_NE(paragraph.find("\r\n  3. "), std::string::npos) << section;
            EXPECT_NE(paragraph.find("\r\n  4. "), std::string::npos) << section;
        }
    }
    bool accented = false;
    for (size_t i = at; i < text.size(); ++i)
        accented = accented || static_cast<unsigned char>(text[i]) >= 0xC0;
    EXPECT_TRUE(accented) << "section G holds accented letters";
}

// The folder browser's status line: the same control id on Windows and under Wine.
const int BrowserStatusId = 0x3743;

std::string TreeItemText(HWND tree, HTREEITEM item)
{
    char text[MAX_PATH] = "";
    TVITEMA data = {};
    data.mask = TVIF_TEXT;
    data.hItem = item;
    data.pszText = text;
    data.cchTextMax = sizeof text;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&data));
    return text;
}

// Selects folder (a drive root and the names below it) in the browser's tree as a user would:
// the browser is asked for the drive, then each folder below is opened by its name and the last
// one clicked. (Asked for a deep folder by its path, Wine's browser now and then fails to find it
// in its tree.) False when a name is not in the tree.
bool ClickFolder(HWND browser, const std::string& folder)
{
    const std::string drive = folder.substr(0, 3);
    SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(drive.c_str()));
    HWND tree = FindWindowExA(browser, nullptr, WC_TREEVIEWA, nullptr);
    HTREEITEM item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    for (size_t at = 3; at < folder.size() && item != nullptr;) {
        size_t end = folder.find('\\', at);
        if (end == std::string::npos)
            end = folder.size();
        const std::string name = folder.substr(at, end - at);
        at = end + 1;
        SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
        HTREEITEM child = reinterpret_cast<HTREEITEM>(
            SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item)));
        while (child != nullptr && lstrcmpiA(TreeItemText(tree, child).c_str(), name.c_str()) != 0)
            child = reinterpret_cast<HTREEITEM>(
                SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(child)));
        item = child;
    }
    if (item == nullptr)
        return false;
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
    return true;
}

// One click in the folder browser and the status line it must bring.
struct Selection {
    std::string Folder;
    std::string Status;
};

// Presses Browse on the destination page, clicks each folder in the browser, then presses
// button (IDOK or IDCANCEL) and waits until the page has taken the result. Returns the status
// line read after each click.
std::vector<std::string> BrowseAndPress(HWND sheet, HWND page, const std::vector<Selection>& selections,
                                        int button)
{
    std::vector<std::string> statuses;
    PressButton(page, IDC_DESTINATION_BROWSE);
    HWND browser = WaitForOwnedWindow(sheet, DialogClass);
    if (browser == nullptr) {
        ADD_FAILURE() << "no folder browser";
        return statuses;
    }
    for (const Selection& selection : selections) {
        if (!ClickFolder(browser, selection.Folder))
            ADD_FAILURE() << "not in the browser's tree: " << selection.Folder;
        statuses.push_back(WaitForText(GetDlgItem(browser, BrowserStatusId), selection.Status));
    }
    PressButton(browser, button);
    if (!WaitForWindowGone(browser)) {
        ADD_FAILURE() << "the folder browser is still open";
        PressButton(browser, IDCANCEL);
        WaitForWindowGone(browser);
    }
    // Answered once the page has finished with the browser's result.
    SendMessageA(page, WM_NULL, 0, 0);
    return statuses;
}

TEST_F(InstallWizardTest, BrowsedDriveRootJoinsWithoutASecondBackslashEverywhere)
{
    std::vector<std::string> statuses;
    std::string shown;
    int result = RunWizard([&](HWND sheet) {
        Go(sheet, PSBTN_NEXT);
        HWND page = Go(sheet, PSBTN_NEXT);
        statuses = BrowseAndPress(sheet, page, {{"C:\\", "C:\\TALVIQ\\Project Zorvane PE"}}, IDOK);
        shown = ControlText(page, IDC_DESTINATION_PATH);
        PressSheetButton(sheet, PSBTN_FINISH);
    });
    EXPECT_EQ(statuses, std::vector<std::string>{"C:\\TALVIQ\\Project Zorvane PE"});
    EXPECT_EQ(shown, "C:\\TALVIQ\\Project Zorvane PE");
    EXPECT_NE(result, 0);
    EXPECT_STREQ(DestinationFolder, "C:\\TALVIQ\\Project Zorvane PE");
}

TEST_F(InstallWizardTest, CancelledBrowserLeavesFolderAndDisplay)
{
    ScopedTempDir dir;
    const std::string other = dir.Join("Other");
    ASSERT_TRUE(CreateDirectoryA(other.c_str(), nullptr));
    lstrcpynA(DestinationFolder, dir.Path().c_str(), MAX_PATH);
    std::string before, after, folderAfter;
    std::vector<std::string> statuses;
    int result = RunWizard([&](HWND sheet) {
        Go(sheet, PSBTN_NEXT);
        HWND page = Go(sheet, PSBTN_NEXT);
        before = ControlText(page, IDC_DESTINATION_PATH);
        statuses = BrowseAndPress(sheet, page, {{other, Joined(other)}}, IDCANCEL);
        after = ControlText(page, IDC_DESTINATION_PATH);
        folderAfter = DestinationFolder;
        PressSheetButton(sheet, PSBTN_FINISH);
    });
    EXPECT_EQ(statuses, std::vector<std::string>{Joined(other)}) << "the status line follows the selection";
    EXPECT_EQ(after, before);
    EXPECT_EQ(folderAfter, dir.Path());
    EXPECT_NE(result, 0);
    EXPECT_EQ(std::string(DestinationFolder), Joined(dir.Path()));
}

TEST_F(InstallWizardTest, ChosenFolderThenCancelledWizardKeepsTheFolderWithoutSuffix)
{
    ScopedTempDir dir;
    const std::string chosen = dir.Join("Chosen");
    ASSERT_TRUE(CreateDirectoryA(chosen.c_str(), nullptr));
    std::string shown;
    int result = RunWizard([&](HWND sheet) {
        Go(sheet, PSBTN_NEXT);
        HWND page = Go(sheet, PSBTN_NEXT);
        BrowseAndPress(sheet, page, {{chosen, Joined(chosen)}}, IDOK);
        shown = ControlText(page, IDC_DESTINATION_PATH);
        PressSheetButton(sheet, PSBTN_CANCEL);
    });
    EXPECT_NE(shown.find("...\\Project Zorvane PE"), std::string::npos) << shown;
    EXPECT_EQ(result, 0);
    EXPECT_EQ(std::string(DestinationFolder), chosen);
}

// Width of text in the control's own font.
int TextWidth(HWND control, const std::string& text)
{
    HDC dc = GetDC(control);
    HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0)));
    SIZE size = {};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    return size.cx;
}

TEST_F(InstallWizardTest, LongFolderIsShownWithAnEllipsisAndStoredComplete)
{
    const std::string folder =
        "C:\\Program Files\\" + std::string(120, 'L') + "\\Middle\\End of the long folder";
    lstrcpynA(DestinationFolder, folder.c_str(), MAX_PATH);
    std::string shown;
    int width = 0, room = 0;
    RunWizard([&](HWND sheet) {
        Go(sheet, PSBTN_NEXT);
        HWND control = GetDlgItem(Go(sheet, PSBTN_NEXT), IDC_DESTINATION_PATH);
        shown = WindowText(control);
        width = TextWidth(control, shown);
        RECT client;
        GetClientRect(control, &client);
        room = client.right;
        PressSheetButton(sheet, PSBTN_FINISH);
    });
    const std::string full = Joined(folder);
    const size_t ellipsis = shown.find("...");
    ASSERT_NE(ellipsis, std::string::npos) << shown;
    EXPECT_GT(ellipsis, 0u);
    EXPECT_EQ(full.compare(0, ellipsis, shown, 0, ellipsis), 0) << shown << " begins as " << full;
    EXPECT_EQ(shown.substr(ellipsis + 3), "\\Project Zorvane PE") << "the last component is kept whole";
    EXPECT_LE(width, room);
    EXPECT_EQ(std::string(DestinationFolder), full);
}

TEST_F(InstallWizardTest, ChosenFolderTooLongForTheSuffixIsRefused)
{
    // The suffix and its backslash take 26 characters: a folder of 233 gets them within 260
    // bytes, one of 234 does not.
    ScopedTempDir dir;
    const std::string fits = MakeFolderOfLength(dir.Join("a"), 233);
    const std::string tooLong = MakeFolderOfLength(dir.Join("b"), 234);
    ASSERT_EQ(fits.size(), 233u);
    ASSERT_EQ(tooLong.size(), 234u);
    std::string before, afterRefusal, folderAfterRefusal, afterFit;
    std::vector<std::string> refusedStatuses, fitStatuses;
    int result = RunWizard([&](HWND sheet) {
        Go(sheet, PSBTN_NEXT);
        HWND page = Go(sheet, PSBTN_NEXT);
        before = ControlText(page, IDC_DESTINATION_PATH);
        // The status line empties when the selection moves from a fitting folder to the long one.
        refusedStatuses = BrowseAndPress(sheet, page, {{fits, Joined(fits)}, {tooLong, ""}}, IDOK);
        afterRefusal = ControlText(page, IDC_DESTINATION_PATH);
        folderAfterRefusal = DestinationFolder;
        fitStatuses = BrowseAndPress(sheet, page, {{fits, Joined(fits)}}, IDOK);
        afterFit = ControlText(page, IDC_DESTINATION_PATH);
        PressSheetButton(sheet, PSBTN_FINISH);
    });
    EXPECT_EQ(refusedStatuses, (std::vector<std::string>{Joined(fits), ""}))
        << "no cut path in the status line";
    EXPECT_EQ(afterRefusal, before);
    EXPECT_EQ(folderAfterRefusal, DefaultFolder);
    EXPECT_EQ(fitStatuses, std::vector<std::string>{Joined(fits)});
    EXPECT_NE(afterFit, before);
    EXPECT_NE(result, 0);
    EXPECT_EQ(std::string(DestinationFolder), Joined(fits));
    EXPECT_EQ(strlen(DestinationFolder), 259u);
}

TEST_F(InstallWizardTest, ProposedFolderTooLongForTheSuffixShowsNothingAndFinishesAsCancelled)
{
    const std::string proposed = "C:\\" + std::string(240, 'p');
    lstrcpynA(DestinationFolder, proposed.c_str(), MAX_PATH);
    std::string shown = "unread";
    int result = RunWizard([&](HWND sheet) {
        Go(sheet, PSBTN_NEXT);
        shown = ControlText(Go(sheet, PSBTN_NEXT), IDC_DESTINATION_PATH);
        PressSheetButton(sheet, PSBTN_FINISH);
    });
    EXPECT_EQ(shown, "");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(std::string(DestinationFolder), proposed);
}

// Stands in for the folder browser: records what the callback sends it.
struct BrowserMessage {
    UINT Message;
    WPARAM WParam;
    std::string Text;
};
std::vector<BrowserMessage> BrowserMessages;

LRESULT CALLBACK RecordingBrowserProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == BFFM_SETSELECTIONA || message == BFFM_SETSTATUSTEXTA) {
        BrowserMessages.push_back({message, wParam, reinterpret_cast<const char*>(lParam)});
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST(BrowseCallback, PreselectsTheFolderAndShowsWhereTheProductWouldGo)
{
    ScopedTempDir dir;
    const std::string tooLong = MakeFolderOfLength(dir.Join("b"), 234);
    WNDCLASSA recording = {};
    recording.lpfnWndProc = RecordingBrowserProc;
    recording.hInstance = GetModuleHandleA(nullptr);
    recording.lpszClassName = "ZorvaneRecordingBrowser";
    RegisterClassA(&recording);
    HWND browser = CreateWindowExA(0, recording.lpszClassName, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                   recording.hInstance, nullptr);
    ASSERT_NE(browser, nullptr);

    char folder[MAX_PATH] = "C:\\Program Files";
    LPITEMIDLIST root = ILCreateFromPathA("C:\\");
    LPITEMIDLIST temp = ILCreateFromPathA(dir.Path().c_str());
    LPITEMIDLIST longFolder = ILCreateFromPathA(tooLong.c_str());
    LPITEMIDLIST computer = nullptr;
    SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &computer);
    ASSERT_TRUE(root && temp && longFolder && computer);

    BrowserMessages.clear();
    EXPECT_EQ(BrowseCallback(browser, BFFM_INITIALIZED, 0, reinterpret_cast<LPARAM>(folder)), 0);
    EXPECT_EQ(BrowseCallback(browser, BFFM_SELCHANGED, reinterpret_cast<LPARAM>(root), 0), 0);
    EXPECT_EQ(BrowseCallback(browser, BFFM_SELCHANGED, reinterpret_cast<LPARAM>(temp), 0), 0);
    EXPECT_EQ(BrowseCallback(browser, BFFM_SELCHANGED, reinterpret_cast<LPARAM>(computer), 0), 0);
    EXPECT_EQ(BrowseCallback(browser, BFFM_SELCHANGED, reinterpret_cast<LPARAM>(longFolder), 0), 0);

    // My Computer has no path: the status line is left alone.
    const BrowserMessage expected[] = {
        {BFFM_SETSELECTIONA, TRUE, "C:\\Program Files"},
        {BFFM_SETSTATUSTEXTA, 0, "C:\\TALVIQ\\Project Zorvane PE"},
        {BFFM_SETSTATUSTEXTA, 0, Joined(dir.Path())},
        {BFFM_SETSTATUSTEXTA, 0, ""},
    };
    ASSERT_EQ(BrowserMessages.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(BrowserMessages[i].Message, expected[i].Message);
        EXPECT_EQ(BrowserMessages[i].WParam, expected[i].WParam);
        EXPECT_EQ(BrowserMessages[i].Text, expected[i].Text);
    }
    ILFree(root);
    ILFree(temp);
    ILFree(longFolder);
    ILFree(computer);
    DestroyWindow(browser);
}

TEST(CenterWindow, CentresOverTheOwnerOrTheDesktopWithDivisionsTowardZero)
{
    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    const struct {
        RECT Owner; // empty: no owner
        SIZE Window;
        POINT Expected;
    } cases[] = {
        {{100, 50, 500, 350}, {100, 80}, {250, 160}},
        // Larger than its owner: (200 - 305) / 2 = -52 and (100 - 151) / 2 = -25.
        {{300, 300, 500, 400}, {305, 151}, {248, 275}},
        {{0, 0, 0, 0}, {301, 201}, {(desktop.right - 301) / 2, (desktop.bottom - 201) / 2}},
    };
    for (const auto& c : cases) {
        HWND owner = nullptr;
        if (c.Owner.right != 0)
            owner = CreateWindowExA(0, "Static", "", WS_POPUP, c.Owner.left, c.Owner.top,
                                    c.Owner.right - c.Owner.left, c.Owner.bottom - c.Owner.top, nullptr,
                                    nullptr, nullptr, nullptr);
        HWND window = CreateWindowExA(0, "Static", "", WS_POPUP, 7, 9, c.Window.cx, c.Window.cy, owner,
                                      nullptr, nullptr, nullptr);
        ASSERT_NE(window, nullptr);
        CenterWindow(window);
        RECT placed;
        GetWindowRect(window, &placed);
        EXPECT_EQ(placed.left, c.Expected.x);
        EXPECT_EQ(placed.top, c.Expected.y);
        EXPECT_EQ(placed.right - placed.left, c.Window.cx) << "the size is kept";
        EXPECT_EQ(placed.bottom - placed.top, c.Window.cy);
        DestroyWindow(window);
        if (owner != nullptr)
            DestroyWindow(owner);
    }
}

TEST(ShowDestinationPath, FitsTheJoinedPathToItsControlAndRefusesAFolderTooLong)
{
    // 233 characters: joined, the longest path there is room for.
    const std::string folder = "C:\\" + std::string(230, 'W');
    const std::string full = Joined(folder);
    ASSERT_EQ(full.size(), 259u);
    HWND parent =
        CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    HWND control =
        CreateWindowExA(0, "Static", "before", WS_CHILD | SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, 0, 100, 20,
                        parent, reinterpret_cast<HMENU>(IDC_DESTINATION_PATH), nullptr, nullptr);
    ASSERT_NE(control, nullptr);
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    const int fullWidth = TextWidth(control, full);

    EXPECT_FALSE(ShowDestinationPath(parent, IDC_DESTINATION_PATH, (folder + "W").c_str()));
    EXPECT_EQ(ReadText(control), "before");

    // Wide enough: shown as it is.
    SetWindowPos(control, nullptr, 0, 0, fullWidth, 20, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_TRUE(ShowDestinationPath(parent, IDC_DESTINATION_PATH, folder.c_str()));
    EXPECT_EQ(ReadText(control), full);

    // One unit short: shortened in the middle, the beginning and the end kept.
    SetWindowPos(control, nullptr, 0, 0, fullWidth - 1, 20, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_TRUE(ShowDestinationPath(parent, IDC_DESTINATION_PATH, folder.c_str()));
    const std::string shown = ReadText(control);
    const size_t ellipsis = shown.find("...");
    ASSERT_NE(ellipsis, std::string::npos) << shown;
    EXPECT_EQ(full.compare(0, ellipsis, shown, 0, ellipsis), 0);
    const std::string end = shown.substr(ellipsis + 3);
    EXPECT_EQ(full.compare(full.size() - end.size(), end.size(), end), 0) << shown;
    EXPECT_NE(end.find("\\Project Zorvane PE"), std::string::npos) << shown;
    EXPECT_LT(TextWidth(control, shown), fullWidth);
    DestroyWindow(parent);
}
} // namespace
