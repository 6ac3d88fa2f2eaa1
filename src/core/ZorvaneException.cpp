#include "core/ZorvaneException.h"

#include <stdio.h>

char MessageTextBuffer[1024];

namespace {

void CaptureSystemError(ZorvaneException& error)
{
    DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error.SystemError,
                       0x0400, error.SystemText, sizeof error.SystemText, nullptr);
    if (length == 0 || length >= sizeof error.SystemText)
        error.SystemText[0] = '\0';
    error.SystemText[sizeof error.SystemText - 1] = '\0';
}

struct MessageForm {
    int Code;
    bool IsFormat; // a printf format with %s for FileName, nothing appended
    const char* Text;
};

const MessageForm MessageForms[] = {
    {ErrFileNotFound, false, "File not found: "},
    {ErrUnableToOpen, false, "Unable to open file: "},
    {ErrReadError, false, "Error reading file: "},
    {ErrWriteError, false, "Error writing file: "},
    {ErrNotEnoughMemory, false, "Not enought memory"},
    {ErrInvalidPresetFile, true, "Invalid Project Preset File: %s"},
    {ErrInvalidProjectListFile, true, "Invalid Project List File: %s"},
    {ErrInvalidProjectFile, true, "Invalid Project File: %s"},
    {ErrInvalidCategoryListFile, true, "Invalid Activity Category List File: %s"},
    {ErrUnableToShowDialog, false, "Unable to show dialog box"},
    {ErrInvalidOrCorrupt, true, "File '%s' is invalid or corrupt"},
    {ErrUnableToDelete, false, "Unable to delete file: "},
    {ErrUnexpectedEndOfFile, true, "Unexpected end of file while reading '%s'"},
    {ErrFailedToCreateFolder, false, "Failed to create folder: "},
    {ErrInternal, false, "Internal error"},
};

} // namespace

ZorvaneException::ZorvaneException(int errorCode) : ZorvaneException(errorCode, nullptr) {}

ZorvaneException::ZorvaneException(int errorCode, const char* name)
{
    ErrorCode = errorCode;
    SystemError = GetLastError();
    FileName[0] = '\0';
    if (name != nullptr)
        lstrcpynA(FileName, name, sizeof FileName);
    CaptureSystemError(*this);
}

const char* ComposeMessageText(const ZorvaneException& error)
{
    if (error.ErrorCode == ErrOwnText)
        return error.FileName;

    for (const MessageForm& form : MessageForms) {
        if (form.Code != error.ErrorCode)
            continue;
        if (form.IsFormat)
            snprintf(MessageTextBuffer, sizeof MessageTextBuffer, form.Text, error.FileName);
        else
            snprintf(MessageTextBuffer, sizeof MessageTextBuffer, "%s%s\r\x95 %s", form.Text, error.FileName,
                     error.SystemText);
        return MessageTextBuffer;
    }
    snprintf(MessageTextBuffer, sizeof MessageTextBuffer, "Unknown exception #%d occurred\r\x95 %s",
             error.ErrorCode, error.SystemText);
    return MessageTextBuffer;
}

void ShowError(const ZorvaneException& error, HWND owner, int exitCode)
{
    ShowMessage(owner, ComposeMessageText(error), "Setup", MB_OK | MB_ICONERROR, IDOK, exitCode);
}
