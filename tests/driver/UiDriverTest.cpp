// The UI driver that every GUI test relies on, tried on real message boxes and a real wizard.
#include "uidriver/UiDriver.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <prsht.h>

#include <functional>
#include <thread>

namespace {

const int PageTextId = 1001;
const int WizardBackButtonId = 0x3023;

// An in-memory dialog template of a wizard page with one static text control.
class PageTemplate {
public:
    explicit PageTemplate(const wchar_t* text)
    {
        Words.resize(256, 0);
        DLGTEMPLATE* dialog = reinterpret_cast<DLGTEMPLATE*>(Words.data());
        dialog->style = WS_CHILD | WS_DISABLED | WS_CAPTION;
        dialog->cdit = 1;
        dialog->cx = 200;
        dialog->cy = 100;
        size_t at = sizeof(DLGTEMPLATE) / sizeof(WORD) + 3; // no menu, default class, no title
        at = (at + 1) & ~size_t(1);                         // items start DWORD-aligned
        DLGITEMTEMPLATE* item = reinterpret_cast<DLGITEMTEMPLATE*>(&Words[at]);
        item->style = WS_CHILD | WS_VISIBLE | SS_LEFT;
        item->x = 10;
        item->y = 10;
        item->cx = 180;
        item->cy = 20;
        item->id = PageTextId;
        at += sizeof(DLGITEMTEMPLATE) / sizeof(WORD);
        Words[at++] = 0xffff;
        Words[at++] = 0x0082; // the static class
        for (const wchar_t* c = text; *c != L'\0'; ++c)
            Words[at++] = static_cast<WORD>(*c);
        Words[at++] = 0;
        Words[at++] = 0; // no creation data
    }
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(Words.data()); }

private:
    std::vector<WORD> Words;
};

INT_PTR CALLBACK WizardPageProc(HWND page, UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(page, GWLP_USERDATA, reinterpret_cast<const PROPSHEETPAGEA*>(lParam)->lParam);
        return TRUE;
    }
    if (message == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->code == PSN_SETACTIVE) {
        bool first = GetWindowLongPtrA(page, GWLP_USERDATA) == 1;
        PropSheet_SetWizButtons(GetParent(page), first ? PSWIZB_NEXT : PSWIZB_BACK | PSWIZB_FINISH);
        SetWindowLongPtrA(page, DWLP_MSGRESULT, 0);
        return TRUE;
    }
    return FALSE;
}

// Runs a two-page wizard on this thread while user drives it from a second thread.
INT_PTR RunWizard(const std::function<void(HWND sheet)>& user)
{
    InitCommonControls();
    PageTemplate first(L"First page");
    PageTemplate second(L"Second page");
    PROPSHEETPAGEA pages[2] = {};
    for (int i = 0; i < 2; ++i) {
        pages[i].dwSize = sizeof pages[i];
        pages[i].dwFlags = PSP_DLGINDIRECT;
        pages[i].hInstance = GetModuleHandleA(nullptr);
        pages[i].pResource = i == 0 ? first.Get() : second.Get();
        pages[i].pfnDlgProc = WizardPageProc;
        pages[i].lParam = i + 1;
    }
    PROPSHEETHEADERA header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_WIZARD | PSH_PROPSHEETPAGE;
    header.hInstance = GetModuleHandleA(nullptr);
    header.pszCaption = "Zorvane Test Wizard";
    header.nPages = 2;
    header.ppsp = pages;
    std::thread driver([&] {
        HWND sheet = WaitForProcessWindow(GetCurrentProcessId(), DialogClass, nullptr);
        if (sheet == nullptr) {
            ADD_FAILURE() << "no wizard appeared";
            return;
        }
        user(sheet);
        if (!WaitForWindowGone(sheet)) {
            ADD_FAILURE() << "the wizard did not close";
            PressSheetButton(sheet, PSBTN_CANCEL);
        }
    });
    INT_PTR result = PropertySheetA(&header);
    driver.join();
    return result;
}

TEST(UiDriver, SheetButtonsMoveThroughTheWizardAndFinishIt)
{
    std::string firstText, secondText, backAgainText;
    bool backOnFirst = true, backOnSecond = false;
    INT_PTR result = RunWizard([&](HWND sheet) {
        HWND page = CurrentSheetPage(sheet);
        firstText = ControlText(page, PageTextId);
        // The page sets its buttons by a posted message: each state is waited for, not read once.
        backOnFirst = !WaitForControlEnabled(sheet, WizardBackButtonId, false);
        PressSheetButton(sheet, PSBTN_NEXT);
        HWND second = WaitForSheetPageChange(sheet, page);
        secondText = ControlText(second, PageTextId);
        backOnSecond = WaitForControlEnabled(sheet, WizardBackButtonId, true);
        PressSheetButton(sheet, PSBTN_BACK);
        backAgainText = ControlText(WaitForSheetPageChange(sheet, second), PageTextId);
        PressSheetButton(sheet, PSBTN_NEXT);
        WaitForSheetPageChange(sheet, page);
        PressSheetButton(sheet, PSBTN_FINISH);
    });
    EXPECT_EQ(firstText, "First page");
    EXPECT_FALSE(backOnFirst);
    EXPECT_EQ(secondText, "Second page");
    EXPECT_TRUE(backOnSecond);
    EXPECT_EQ(backAgainText, "First page");
    EXPECT_GT(result, 0) << "Finish must end the wizard as accepted";
}

TEST(UiDriver, SheetCancelEndsTheWizardAsCancelled)
{
    INT_PTR result = RunWizard([](HWND sheet) { PressSheetButton(sheet, PSBTN_CANCEL); });
    EXPECT_EQ(result, 0);
}

// Shows a message box on this thread while a second thread reads it and answers.
int ShowAndAnswer(UINT style, const std::function<void(HWND box)>& user)
{
    std::thread driver([&] {
        HWND box = WaitForProcessWindow(GetCurrentProcessId(), DialogClass, "Zorvane Test Box");
        if (box == nullptr) {
            ADD_FAILURE() << "no message box appeared";
            return;
        }
        user(box);
        if (!WaitForWindowGone(box)) {
            ADD_FAILURE() << "the message box did not close";
            PressButton(box, IDCANCEL);
            PressButton(box, IDNO);
        }
    });
    int answer = MessageBoxA(nullptr, "Line one\rLine two", "Zorvane Test Box", style);
    driver.join();
    return answer;
}

TEST(UiDriver, ReadsAMessageBoxAndAnswersItByButtonOrEscape)
{
    MessageBoxContent seen;
    int answer = ShowAndAnswer(MB_YESNO | MB_ICONEXCLAMATION, [&](HWND box) {
        seen = ReadMessageBox(box);
        PressButton(box, IDNO);
    });
    EXPECT_EQ(answer, IDNO);
    EXPECT_EQ(seen.Caption, "Zorvane Test Box");
    EXPECT_EQ(seen.Text, "Line one\rLine two");
    EXPECT_EQ(seen.IconStyle, UINT(MB_ICONEXCLAMATION));
    EXPECT_EQ(seen.Icon, StandardMessageBoxIcon(MB_ICONEXCLAMATION));
    EXPECT_EQ(seen.ButtonIds, (std::vector<int>{IDYES, IDNO}));
    EXPECT_EQ(seen.Buttons, (std::vector<std::string>{"&Yes", "&No"}));

    EXPECT_EQ(ShowAndAnswer(MB_OKCANCEL, [](HWND box) { PressEscape(box); }), IDCANCEL);
}

TEST(UiDriver, RecognisesEveryStandardIconByItsPixelsAsByItsHandle)
{
    for (UINT style :
         {UINT(MB_ICONHAND), UINT(MB_ICONQUESTION), UINT(MB_ICONEXCLAMATION), UINT(MB_ICONASTERISK)}) {
        UINT byHandle = 0, byPixels = UnknownIcon;
        ShowAndAnswer(MB_OK | style, [&](HWND box) {
            byHandle = ReadMessageBox(box).IconStyle;
            HWND icon = nullptr;
            for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
                 child = GetWindow(child, GW_HWNDNEXT)) {
                char className[16];
                GetClassNameA(child, className, sizeof className);
                if (lstrcmpiA(className, "Static") == 0 &&
                    (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
                    icon = child;
            }
            // The box may not have painted yet: look until it has, within a bound.
            DWORD start = GetTickCount();
            while (icon != nullptr && byPixels == UnknownIcon && GetTickCount() - start < 5000) {
                byPixels = IconStyleOnScreen(icon);
                Sleep(20);
            }
            PressButton(box, IDOK);
        });
        EXPECT_EQ(byHandle, style);
        EXPECT_EQ(byPixels, style) << "pixels of icon style " << style;
    }
}

} // namespace
