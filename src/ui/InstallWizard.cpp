#include "ui/InstallWizard.h"

#include "core/PathUtilities.h"
#include "core/SystemLibraries.h"
#include "core/SetupState.h"
#include "resource.h"

#include <commctrl.h>
#include <prsht.h>
#include <shlobj.h>

#include <string.h>

const char ProductFolderSuffix[] = "TALVIQ\\Project Zorvane PE";

namespace {

const char BrowseTitle[] = "Select the destination folder";

// The pages and the sheet use the layouts that carry header texts but no activation context.
typedef PROPSHEETPAGEA_V2 WizardPageRecord;
static_assert(sizeof(void*) != 4 || sizeof(WizardPageRecord) == 48, "page record of 48 bytes");
static_assert(sizeof(void*) != 4 || sizeof(PROPSHEETHEADERA) == 52, "sheet header of 52 bytes");

// Fills joined (MAX_PATH bytes) with folder, a backslash unless folder ends with one, and
// ProductFolderSuffix. False when folder is empty, unterminated within MAX_PATH bytes, or the
// result does not fit; joined is then undefined.
bool JoinProductFolder(char* joined, const char* folder)
{
    const size_t length = strnlen(folder, MAX_PATH);
    if (length == MAX_PATH)
        return false;
    memcpy(joined, folder, length + 1);
    return AppendPathComponent(joined, ProductFolderSuffix);
}

// True while DestinationFolder names the installation folder itself (the folder of the product
// installed before), not a base folder: the suffix is not appended to it, nor shown.
bool ProposedIsWhole;
// That folder as proposed; empty when the wizard proposed a base folder.
char WholeFolder[MAX_PATH];

// True when folder is the installed product's folder, however the browser spells it.
bool IsWholeFolder(const char* folder) { return WholeFolder[0] != '\0' && IsSameFile(folder, WholeFolder); }

// Fills joined (MAX_PATH bytes) with what the destination page shows for folder.
bool JoinShownFolder(char* joined, const char* folder)
{
    if (!ProposedIsWhole)
        return JoinProductFolder(joined, folder);
    lstrcpynA(joined, folder, MAX_PATH);
    return true;
}

void ShowWizardBitmap(HWND page)
{
    SendDlgItemMessageA(page, IDC_WIZARD_BITMAP, STM_SETIMAGE, IMAGE_BITMAP,
                        reinterpret_cast<LPARAM>(WizardBitmap));
}

// Handles the page's activation by enabling its wizard buttons. Posted: the sheet applies them
// after the activation has returned to it.
void EnableWizardButtonsOnActivation(HWND page, LPARAM lParam, DWORD buttons)
{
    if (reinterpret_cast<const NMHDR*>(lParam)->code == PSN_SETACTIVE)
        PostMessageA(GetParent(page), PSM_SETWIZBUTTONS, 0, buttons);
}

} // namespace

int RunInstallWizard(HWND owner, bool proposedIsWhole)
{
    ProposedIsWhole = proposedIsWhole;
    lstrcpynA(WholeFolder, proposedIsWhole ? DestinationFolder : "", sizeof WholeFolder);
    const struct {
        int TemplateId;
        DLGPROC Procedure;
    } pageSources[] = {
        {IDD_WELCOME, WelcomePage},
        {IDD_LICENSE, LicensePage},
        {IDD_DESTINATION, DestinationPage},
    };
    WizardPageRecord pages[3] = {};
    for (int i = 0; i < 3; ++i) {
        pages[i].dwSize = sizeof pages[i];
        pages[i].dwFlags = PSP_DEFAULT;
        pages[i].hInstance = ModuleInstance;
        pages[i].pszTemplate = MAKEINTRESOURCEA(pageSources[i].TemplateId);
        pages[i].pfnDlgProc = pageSources[i].Procedure;
    }
    PROPSHEETHEADERA sheet = {};
    sheet.dwSize = sizeof sheet;
    sheet.dwFlags = PSH_WIZARD | PSH_PROPSHEETPAGE;
    sheet.hwndParent = owner;
    sheet.hInstance = ModuleInstance;
    sheet.nPages = 3;
    sheet.nStartPage = 0;
    sheet.ppsp = reinterpret_cast<LPCPROPSHEETPAGEA>(pages);

    int result = static_cast<int>(SystemPropertySheet(&sheet));
    if (result < 0)
        return -1;
    if (result != 0 && !ProposedIsWhole && !AppendPathComponent(DestinationFolder, ProductFolderSuffix))
        return 0;
    return result;
}

INT_PTR CALLBACK WelcomePage(HWND page, UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        ShowWizardBitmap(page);
        // Pages are made when first shown: this runs once, as the sheet opens.
        CenterWindow(GetParent(page));
        return 1;
    }
    if (message == WM_NOTIFY)
        EnableWizardButtonsOnActivation(page, lParam, PSWIZB_NEXT);
    return 0;
}

INT_PTR CALLBACK LicensePage(HWND page, UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        ShowWizardBitmap(page);
        SetDlgItemTextA(page, IDC_LICENSE_TEXT, LicenseText);
        return 1;
    }
    if (message == WM_NOTIFY)
        EnableWizardButtonsOnActivation(page, lParam, PSWIZB_BACK | PSWIZB_NEXT);
    return 0;
}

INT_PTR CALLBACK DestinationPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        ShowWizardBitmap(page);
        ShowDestinationPath(page, IDC_DESTINATION_PATH, DestinationFolder);
        return 1;
    }
    if (message == WM_NOTIFY)
        EnableWizardButtonsOnActivation(page, lParam, PSWIZB_BACK | PSWIZB_FINISH);
    if (message == WM_COMMAND && LOWORD(wParam) == IDC_DESTINATION_BROWSE) {
        char previous[MAX_PATH];
        lstrcpynA(previous, DestinationFolder, sizeof previous);
        if (BrowseForDestination(page, DestinationFolder)) {
            // The installed product's folder chosen again is kept whole, as it was proposed; any
            // other chosen folder is a base folder.
            ProposedIsWhole = IsWholeFolder(DestinationFolder);
            if (ProposedIsWhole)
                lstrcpynA(DestinationFolder, WholeFolder, sizeof DestinationFolder);
            ShowDestinationPath(page, IDC_DESTINATION_PATH, DestinationFolder);
        } else
            lstrcpynA(DestinationFolder, previous, sizeof DestinationFolder);
    }
    return 0;
}

void CenterWindow(HWND window)
{
    HWND reference = GetParent(window);
    if (reference == nullptr)
        reference = GetDesktopWindow();
    RECT outer, inner;
    GetWindowRect(reference, &outer);
    GetWindowRect(window, &inner);
    const int x = outer.left + ((outer.right - outer.left) - (inner.right - inner.left)) / 2;
    const int y = outer.top + ((outer.bottom - outer.top) - (inner.bottom - inner.top)) / 2;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE);
}

bool ShowDestinationPath(HWND dialog, int controlId, const char* folder)
{
    // Shortening rewrites the text in place and may lengthen it by up to four characters.
    char text[MAX_PATH + 4];
    if (!JoinShownFolder(text, folder))
        return false;

    HWND control = GetDlgItem(dialog, controlId);
    RECT client = {};
    GetClientRect(control, &client);
    // Measured, not drawn, in the font the control shows it in.
    HDC controlDc = GetDC(control);
    HDC measuring = CreateCompatibleDC(controlDc);
    HGDIOBJ previousFont =
        SelectObject(measuring, reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0)));
    DrawTextA(measuring, text, -1, &client, DT_SINGLELINE | DT_NOPREFIX | DT_PATH_ELLIPSIS | DT_MODIFYSTRING);
    SelectObject(measuring, previousFont);
    DeleteDC(measuring);
    ReleaseDC(control, controlDc);

    SetWindowTextA(control, text);
    return true;
}

bool BrowseForDestination(HWND owner, char* folder)
{
    IMalloc* allocator = nullptr;
    if (FAILED(SHGetMalloc(&allocator)))
        return false;

    BROWSEINFOA browse = {};
    browse.hwndOwner = owner;
    browse.lpszTitle = BrowseTitle;
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN | BIF_STATUSTEXT;
    browse.lpfn = BrowseCallback;
    browse.lParam = reinterpret_cast<LPARAM>(folder);
    LPITEMIDLIST item = SHBrowseForFolderA(&browse);

    bool chosen = false;
    if (item != nullptr) {
        // A destination longer than the install takes is refused here, where another folder can
        // still be chosen, rather than after Finish.
        char joined[MAX_PATH];
        chosen = SHGetPathFromIDListA(item, folder) &&
                 (IsWholeFolder(folder) ||
                  (JoinProductFolder(joined, folder) && strlen(joined) <= InstallFolderLimit));
        allocator->Free(item);
    }
    allocator->Release();
    return chosen;
}

int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM lParam, LPARAM data)
{
    if (message == BFFM_INITIALIZED) {
        SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, data);
    } else if (message == BFFM_SELCHANGED) {
        char path[MAX_PATH];
        if (SHGetPathFromIDListA(reinterpret_cast<LPCITEMIDLIST>(lParam), path)) {
            // A folder too long for the suffix cannot be chosen: show nothing rather than a cut path.
            char joined[MAX_PATH];
            const char* status = IsWholeFolder(path) ? WholeFolder
                                 : JoinProductFolder(joined, path) && strlen(joined) <= InstallFolderLimit
                                     ? joined
                                     : "";
            SendMessageA(browser, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(status));
        }
    }
    return 0;
}
