// The install wizard on the real property sheet and folder browser, driven from a second thread
// as a user would drive it.
#include "ui/InstallWizard.h"

#include "core/SetupState.h"
#include "resource.h"
#include "support/ScopedTempDir.h"
#include "uidriver/UiDriver.h"
#include "ui/BackdropWindow.h"

#include <commctrl.h>
#include <objbase.h>
#include <prsht.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <functional>
#include <thread>

namespace {

const char DefaultFolder[] = "C:\\Program Files";
const char RootResult[] = "C:\\TALVIQ\\Project Zorvane PE";
using Texts = std::vector<std::string>;

std::string Joined(const std::string& folder) { return folder + "\\" + ProductFolderSuffix; }

// The sheet's caption and the wizard buttons it offers, as "Caption: Back Next".
std::string PageState(HWND sheet)
{
    std::string state = WindowText(sheet) + ":";
    const std::pair<int, const char*> buttons[] = {{0x3023, " Back"}, {0x3024, " Next"}, {0x3025, " Finish"}};
    for (const auto& button : buttons) {
        if (IsWindowVisible(GetDlgItem(sheet, button.first)) && IsControlEnabled(sheet, button.first))
            state += button.second;
    }
    return state;
}

// Pages post their buttons to the sheet: they change a moment after the page shows.
std::string WaitForPageState(HWND sheet, const std::string& wanted)
{
    DWORD start = GetTickCount();
    std::string state;
    while ((state = PageState(sheet)) != wanted && GetTickCount() - start < 5000)
        Sleep(20);
    return state;
}

// Clicks folder (a drive root and names below it) in the browser's tree: the browser is asked
// for the drive, then each folder below is opened and found by its name. (Asked for a deep folder
// by its path, Wine's browser now and then fails to find it in its tree.)
void ClickFolder(HWND browser, const std::string& folder)
{
    SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(folder.substr(0, 3).c_str()));
    HWND tree = FindWindowExA(browser, nullptr, WC_TREEVIEWA, nullptr);
    LPARAM item = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
    for (size_t at = 3, end; at < folder.size() && item != 0; at = end + 1) {
        end = std::min(folder.find('\\', at), folder.size());
        SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, item);
        for (item = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, item); item != 0;
             item = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, item)) {
            char name[MAX_PATH] = "";
            TVITEMA data = {TVIF_TEXT, reinterpret_cast<HTREEITEM>(item), 0, 0, name, MAX_PATH, 0, 0, 0, 0};
            SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&data));
            if (lstrcmpiA(name, folder.substr(at, end - at).c_str()) == 0)
                break;
        }
    }
    EXPECT_NE(item, 0) << "not in the browser's tree: " << folder;
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, item);
}

// Presses Browse on the destination page, clicks each folder, presses button in the browser and
// waits until the page has taken the result. Returns the browser's status line after each click.
Texts BrowseAndPress(HWND sheet, HWND page, const Texts& folders, int button)
{
    Texts statuses;
    PressButton(page, IDC_DESTINATION_BROWSE);
    HWND browser = WaitForOwnedWindow(sheet, DialogClass);
    for (const std::string& folder : folders) {
        ClickFolder(browser, folder);
        char status[MAX_PATH] = "";
        GetDlgItemTextA(browser, 0x3743, status, MAX_PATH); // the same id on Windows and Wine
        statuses.push_back(status);
    }
    PressButton(browser, button);
    EXPECT_TRUE(WaitForWindowGone(browser));
    SendMessageA(page, WM_NULL, 0, 0);
    return statuses;
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
        CoUninitialize();
    }

    // Runs the wizard over the backdrop from folder while user drives it from a second thread;
    // a sheet that user leaves open is cancelled.
    static int Run(const std::string& folder, const std::function<void(HWND sheet)>& user)
    {
        lstrcpynA(DestinationFolder, folder.c_str(), MAX_PATH);
        std::thread driver([&] {
            HWND sheet = WaitForOwnedWindow(Backdrop, DialogClass);
            if (sheet != nullptr)
                user(sheet);
            if (sheet == nullptr || !WaitForWindowGone(sheet)) {
                ADD_FAILURE() << "no wizard, or it stayed open";
                PressSheetButton(sheet, PSBTN_CANCEL);
            }
        });
        int result = RunInstallWizard(Backdrop);
        driver.join();
        return result;
    }

    // Presses a sheet button that changes the page and returns the page then shown.
    static HWND Go(HWND sheet, int button)
    {
        HWND page = CurrentSheetPage(sheet);
        PressSheetButton(sheet, button);
        return WaitForSheetPageChange(sheet, page);
    }

    static HWND Backdrop;
};

HWND InstallWizardTest::Backdrop = nullptr;

TEST_F(InstallWizardTest, PagesOfferTheirButtonsAndFinishJoinsTheSuffixToTheProposedFolder)
{
    const char* states[] = {
        "Welcome: Next", "Software License Agreement: Back Next", "Choose Destination Location: Back Finish",
        "Software License Agreement: Back Next", "Choose Destination Location: Back Finish"};
    const int moves[] = {-1, PSBTN_NEXT, PSBTN_NEXT, PSBTN_BACK, PSBTN_NEXT}; // -1: stay
    Texts seen;
    std::string license;
    RECT sheetRect = {};
    int result = Run(DefaultFolder, [&](HWND sheet) {
        GetWindowRect(sheet, &sheetRect);
        for (int i = 0; i < 5; ++i) {
            HWND page = moves[i] < 0 ? CurrentSheetPage(sheet) : Go(sheet, moves[i]);
            seen.push_back(WaitForPageState(sheet, states[i]));
            if (i == 3)
                license = ControlText(page, IDC_LICENSE_TEXT);
        }
        PressSheetButton(sheet, PSBTN_FINISH);
    });
    EXPECT_EQ(seen, Texts(states, states + 5));
    EXPECT_EQ(license, LicenseText);
    EXPECT_EQ(sheetRect.left, (GetSystemMetrics(SM_CXSCREEN) - (sheetRect.right - sheetRect.left)) / 2);
    EXPECT_EQ(sheetRect.top, (GetSystemMetrics(SM_CYSCREEN) - (sheetRect.bottom - sheetRect.top)) / 2);
    EXPECT_NE(result, 0);
    EXPECT_STREQ(DestinationFolder, "C:\\Program Files\\TALVIQ\\Project Zorvane PE");
}

TEST_F(InstallWizardTest, CancelOnAnyPageReturnsZeroWithoutTheSuffixAfterBrowsingToo)
{
    for (int nexts = 0; nexts < 3; ++nexts) {
        int result = Run(DefaultFolder, [&](HWND sheet) {
            HWND page = nullptr;
            for (int i = 0; i < nexts; ++i)
                page = Go(sheet, PSBTN_NEXT);
            if (nexts == 2)
                BrowseAndPress(sheet, page, {"C:\\"}, IDOK);
            PressSheetButton(sheet, PSBTN_CANCEL);
        });
        EXPECT_EQ(result, 0) << nexts;
        EXPECT_STREQ(DestinationFolder, nexts == 2 ? "C:\\" : DefaultFolder) << nexts;
    }
}

TEST_F(InstallWizardTest, CancelledBrowserChangesNothingAndADriveRootTakesNoSecondBackslash)
{
    ScopedTempDir dir;
    ASSERT_TRUE(CreateDirectoryA(dir.Join("Other").c_str(), nullptr));
    std::string before, afterCancel, folderAfterCancel, shown;
    Texts cancelled, root;
    int result = Run(DefaultFolder, [&](HWND sheet) {
        Go(sheet, PSBTN_NEXT);
        HWND page = Go(sheet, PSBTN_NEXT);
        before = ControlText(page, IDC_DESTINATION_PATH);
        cancelled = BrowseAndPress(sheet, page, {dir.Join("Other")}, IDCANCEL);
        afterCancel = ControlText(page, IDC_DESTINATION_PATH);
        folderAfterCancel = DestinationFolder;
        root = BrowseAndPress(sheet, page, {"C:\\"}, IDOK);
        shown = ControlText(page, IDC_DESTINATION_PATH);
        PressSheetButton(sheet, PSBTN_FINISH);
    });
    EXPECT_EQ(cancelled, Texts{Joined(dir.Join("Other"))});
    EXPECT_EQ(afterCancel, before);
    EXPECT_EQ(folderAfterCancel, DefaultFolder);
    EXPECT_EQ(root, Texts{RootResult});
    EXPECT_EQ(shown, RootResult);
    EXPECT_NE(result, 0);
    EXPECT_STREQ(DestinationFolder, RootResult);
}

TEST_F(InstallWizardTest, LongFolderIsShownShortenedAndOneTooLongForTheSuffixIsRefused)
{
    // With a backslash, the 25 characters of the suffix and the terminator, a folder of 233
    // characters fills 260 bytes; one of 234 would not fit.
    ScopedTempDir dir;
    const std::string fits = dir.Join(std::string(233 - dir.Path().size() - 1, 'a'));
    const std::string tooLong = dir.Join(std::string(234 - dir.Path().size() - 1, 'b'));
    ASSERT_TRUE(CreateDirectoryA(fits.c_str(), nullptr) && CreateDirectoryA(tooLong.c_str(), nullptr));
    std::string shown, afterRefusal, folderAfterRefusal;
    Texts statuses;
    int result = Run(fits, [&](HWND sheet) {
        Go(sheet, PSBTN_NEXT);
        HWND page = Go(sheet, PSBTN_NEXT);
        shown = ControlText(page, IDC_DESTINATION_PATH);
        statuses = BrowseAndPress(sheet, page, {dir.Path(), tooLong}, IDOK);
        afterRefusal = ControlText(page, IDC_DESTINATION_PATH);
        folderAfterRefusal = DestinationFolder;
        PressSheetButton(sheet, PSBTN_FINISH);
    });
    const size_t ellipsis = shown.find("...");
    ASSERT_NE(ellipsis, std::string::npos) << shown;
    EXPECT_EQ(shown.substr(0, ellipsis), Joined(fits).substr(0, ellipsis));
    EXPECT_EQ(shown.substr(ellipsis), "...\\Project Zorvane PE");
    EXPECT_EQ(statuses, (Texts{Joined(dir.Path()), ""})) << "a path too long is not shown cut";
    EXPECT_EQ(afterRefusal, shown);
    EXPECT_EQ(folderAfterRefusal, fits);
    EXPECT_NE(result, 0);
    EXPECT_EQ(DestinationFolder, Joined(fits));
}

// The install takes a destination of at most 245 characters: Browse refuses a base folder that
// would make a longer one, where another can still be chosen, so Finish never leads to a refusal.
TEST_F(InstallWizardTest, BrowseRefusesABaseFolderWhoseDestinationTheInstallWouldRefuse)
{
    ScopedTempDir dir;
    // With a backslash and the 25 characters of the suffix: 245 and 246 characters.
    const std::string fits = dir.Join(std::string(219 - dir.Path().size() - 1, 'a'));
    const std::string tooLong = dir.Join(std::string(220 - dir.Path().size() - 1, 'b'));
    ASSERT_TRUE(CreateDirectoryA(fits.c_str(), nullptr) && CreateDirectoryA(tooLong.c_str(), nullptr));
    Texts statuses;
    std::string afterRefusal, afterChoice;
    int result = Run(DefaultFolder, [&](HWND sheet) {
        Go(sheet, PSBTN_NEXT);
        HWND page = Go(sheet, PSBTN_NEXT);
        statuses = BrowseAndPress(sheet, page, {fits, tooLong}, IDOK);
        afterRefusal = DestinationFolder;
        statuses.push_back(BrowseAndPress(sheet, page, {fits}, IDOK).front());
        afterChoice = DestinationFolder;
        PressSheetButton(sheet, PSBTN_FINISH);
    });
    EXPECT_EQ(statuses, (Texts{Joined(fits), "", Joined(fits)}));
    EXPECT_EQ(afterRefusal, DefaultFolder) << "refused: the page keeps its folder";
    EXPECT_EQ(afterChoice, fits);
    EXPECT_NE(result, 0);
    EXPECT_EQ(DestinationFolder, Joined(fits));
    EXPECT_EQ(strlen(DestinationFolder), 245u);
}

// The folder of the installed product is proposed as it is: shown whole, no suffix on Finish.
TEST_F(InstallWizardTest, AnInstalledFolderIsProposedWholeAndKeptOnFinish)
{
    const std::string installed = "D:\\Apps\\Zorvane";
    std::string shown;
    lstrcpynA(DestinationFolder, installed.c_str(), MAX_PATH);
    std::thread driver([&] {
        HWND sheet = WaitForOwnedWindow(Backdrop, DialogClass);
        Go(sheet, PSBTN_NEXT);
        shown = ControlText(Go(sheet, PSBTN_NEXT), IDC_DESTINATION_PATH);
        PressSheetButton(sheet, PSBTN_FINISH);
    });
    int result = RunInstallWizard(Backdrop, true);
    driver.join();
    EXPECT_EQ(shown, installed);
    EXPECT_NE(result, 0);
    EXPECT_EQ(DestinationFolder, installed);
}

// On an upgrade, OK in the browser on the installed folder keeps it whole, also after another
// folder was chosen; any other folder is a base folder and gets the suffix.
TEST_F(InstallWizardTest, BrowsingToTheInstalledFolderKeepsItWholeAndAnotherGetsTheSuffix)
{
    ScopedTempDir dir;
    const std::string installed = dir.Join("Zorvane");
    const std::string other = dir.Join("Other");
    ASSERT_TRUE(CreateDirectoryA(installed.c_str(), nullptr) && CreateDirectoryA(other.c_str(), nullptr));
    const struct {
        Texts Chosen; // one browse each
        Texts Statuses;
        std::string Result;
    } cases[] = {
        {{installed}, {installed}, installed},
        {{other, installed}, {Joined(other), installed}, installed},
        {{installed, other}, {installed, Joined(other)}, Joined(other)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Result + " after " + std::to_string(c.Chosen.size()) + " browses");
        Texts statuses;
        lstrcpynA(DestinationFolder, installed.c_str(), MAX_PATH);
        std::thread driver([&] {
            HWND sheet = WaitForOwnedWindow(Backdrop, DialogClass);
            Go(sheet, PSBTN_NEXT);
            HWND page = Go(sheet, PSBTN_NEXT);
            for (const std::string& folder : c.Chosen)
                statuses.push_back(BrowseAndPress(sheet, page, {folder}, IDOK).front());
            PressSheetButton(sheet, PSBTN_FINISH);
        });
        int result = RunInstallWizard(Backdrop, true);
        driver.join();
        EXPECT_EQ(statuses, c.Statuses) << "where the browser says the product goes";
        EXPECT_NE(result, 0);
        EXPECT_EQ(DestinationFolder, c.Result);
    }
}

TEST_F(InstallWizardTest, ProposedFolderTooLongForTheSuffixShowsNothingAndFinishesAsCancelled)
{
    const std::string proposed = "C:\\" + std::string(240, 'p');
    std::string shown = "unread";
    int result = Run(proposed, [&](HWND sheet) {
        Go(sheet, PSBTN_NEXT);
        shown = ControlText(Go(sheet, PSBTN_NEXT), IDC_DESTINATION_PATH);
        PressSheetButton(sheet, PSBTN_FINISH);
    });
    EXPECT_EQ(shown, "");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(DestinationFolder, proposed);
}

} // namespace
