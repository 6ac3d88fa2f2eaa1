#include "core/ZorvaneException.h"

#include "uidriver/UiDriver.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

// The system's own text for an error number, as the exception should capture it.
std::string SystemTextOf(DWORD error)
{
    char text[256];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                  0x0400, text, sizeof text, nullptr);
    return std::string(text, length);
}

ZorvaneException MadeAfterError(DWORD lastError, int code, const char* name = nullptr)
{
    SetLastError(lastError);
    return name != nullptr ? ZorvaneException(code, name) : ZorvaneException(code);
}

// An error number the system has no message for.
const DWORD NoTextError = 0x2000FFFF;

} // namespace

TEST(ZorvaneException, CapturesLastErrorAndItsSystemText)
{
    ZorvaneException error = MadeAfterError(ERROR_FILE_NOT_FOUND, ErrFileNotFound, "C:\\missing.txt");
    EXPECT_EQ(error.ErrorCode, ErrFileNotFound);
    EXPECT_EQ(error.SystemError, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_STREQ(error.FileName, "C:\\missing.txt");
    ASSERT_FALSE(SystemTextOf(ERROR_FILE_NOT_FOUND).empty());
    EXPECT_EQ(std::string(error.SystemText), SystemTextOf(ERROR_FILE_NOT_FOUND));

    ZorvaneException unnamed = MadeAfterError(ERROR_ACCESS_DENIED, ErrNotEnoughMemory);
    EXPECT_STREQ(unnamed.FileName, "");
    EXPECT_EQ(unnamed.SystemError, static_cast<DWORD>(ERROR_ACCESS_DENIED));

    ZorvaneException nullName = MadeAfterError(0, ErrWriteError, nullptr);
    EXPECT_STREQ(nullName.FileName, "");
}

TEST(ZorvaneException, CutsOverlongNameTo259Bytes)
{
    std::string name(400, 'n');
    ZorvaneException error = MadeAfterError(0, ErrUnableToOpen, name.c_str());
    EXPECT_EQ(std::string(error.FileName), name.substr(0, 259));
}

TEST(ZorvaneException, UnknownErrorNumberLeavesSystemTextEmpty)
{
    ZorvaneException error = MadeAfterError(NoTextError, ErrReadError, "C:\\f");
    EXPECT_STREQ(error.SystemText, "");
    EXPECT_STREQ(ComposeMessageText(error), "Error reading file: C:\\f\r\x95 ");
}

TEST(ComposeMessageText, PrefixFormsAppendPathThenSystemText)
{
    struct Case {
        int Code;
        const char* Prefix;
    } cases[] = {
        {ErrFileNotFound, "File not found: "},
        {ErrUnableToOpen, "Unable to open file: "},
        {ErrReadError, "Error reading file: "},
        {ErrWriteError, "Error writing file: "},
        {ErrUnableToDelete, "Unable to delete file: "},
        {ErrFailedToCreateFolder, "Failed to create folder: "},
        {ErrUnableToShowDialog, "Unable to show dialog box"},
        {ErrInternal, "Internal error"},
    };
    const std::string system = SystemTextOf(ERROR_FILE_NOT_FOUND);
    for (const Case& c : cases) {
        ZorvaneException error = MadeAfterError(ERROR_FILE_NOT_FOUND, c.Code, "D:\\a b\\c.txt");
        EXPECT_EQ(std::string(ComposeMessageText(error)),
                  std::string(c.Prefix) + "D:\\a b\\c.txt" + "\r\x95 " + system)
            << "code " << c.Code;
    }

    ZorvaneException memory = MadeAfterError(ERROR_NOT_ENOUGH_MEMORY, ErrNotEnoughMemory);
    EXPECT_EQ(std::string(ComposeMessageText(memory)),
              "Not enought memory\r\x95 " + SystemTextOf(ERROR_NOT_ENOUGH_MEMORY));
}

TEST(ComposeMessageText, FormatFormsShowOnlyThePath)
{
    struct Case {
        int Code;
        const char* Expected;
    } cases[] = {
        {ErrInvalidPresetFile, "Invalid Project Preset File: X:\\p"},
        {ErrInvalidProjectListFile, "Invalid Project List File: X:\\p"},
        {ErrInvalidProjectFile, "Invalid Project File: X:\\p"},
        {ErrInvalidCategoryListFile, "Invalid Activity Category List File: X:\\p"},
        {ErrInvalidOrCorrupt, "File 'X:\\p' is invalid or corrupt"},
        {ErrUnexpectedEndOfFile, "Unexpected end of file while reading 'X:\\p'"},
    };
    for (const Case& c : cases) {
        // A system text was captured, but these forms never show it.
        ZorvaneException error = MadeAfterError(ERROR_HANDLE_EOF, c.Code, "X:\\p");
        ASSERT_STRNE(error.SystemText, "");
        EXPECT_STREQ(ComposeMessageText(error), c.Expected) << "code " << c.Code;
    }
}

TEST(ComposeMessageText, OwnTextIsTheNameItself)
{
    ZorvaneException error = MadeAfterError(ERROR_FILE_NOT_FOUND, ErrOwnText, "Whole message %s %d");
    EXPECT_EQ(ComposeMessageText(error), error.FileName);
}

TEST(ComposeMessageText, OtherCodesUseTheFallbackWithSignedDecimal)
{
    const std::string system = SystemTextOf(ERROR_ACCESS_DENIED);
    for (int code : {0, 10, 17, 99, 101, -1, -2147483647 - 1}) {
        ZorvaneException error = MadeAfterError(ERROR_ACCESS_DENIED, code, "C:\\ignored");
        EXPECT_EQ(std::string(ComposeMessageText(error)),
                  "Unknown exception #" + std::to_string(code) + " occurred\r\x95 " + system);
    }
}

TEST(ComposeMessageText, LongestTextFitsWhole)
{
    std::string path(259, 'p');
    ZorvaneException error = MadeAfterError(0, ErrFailedToCreateFolder, path.c_str());
    memset(error.SystemText, 's', 255);
    error.SystemText[255] = '\0';
    std::string text = ComposeMessageText(error);
    EXPECT_EQ(text, "Failed to create folder: " + path + "\r\x95 " + std::string(255, 's'));
    EXPECT_EQ(MessageTextBuffer[text.size()], '\0');
}

TEST(ShowError, ShowsComposedTextCaptionedSetupWithErrorIconAndOk)
{
    ZorvaneException error = MadeAfterError(ERROR_FILE_NOT_FOUND, ErrFileNotFound, "C:\\pkg\\Setup.z");
    const std::string expected = ComposeMessageText(error);

    MessageBoxContent seen;
    bool found = false;
    std::thread user([&] {
        HWND box = WaitForWindow(DialogClass, "Setup");
        if (box == nullptr)
            return;
        found = true;
        seen = ReadMessageBox(box);
        PressButton(box, IDOK);
    });
    ShowError(error, nullptr);
    user.join();

    ASSERT_TRUE(found) << "no message box captioned Setup appeared";
    EXPECT_EQ(seen.Caption, "Setup");
    EXPECT_EQ(seen.Text, expected);
    EXPECT_EQ(seen.Icon, StandardMessageBoxIcon(MB_ICONERROR));
    EXPECT_EQ(seen.ButtonIds, std::vector<int>{IDOK});
}
