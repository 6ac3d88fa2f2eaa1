#include "core/ZorvaneException.h"

#include <stdio.h>
#include <string.h>

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

ZorvaneException PathTooLong(int errorCode, const char* path)
{
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    ZorvaneException error(errorCode);
    const size_t room = sizeof error.FileName - 1;
    const size_t length = strlen(path);
    if (length <= room) {
        memcpy(error.FileName, path, length + 1);
        return error;
    }
    // The end carries the file's own name and the folders nearest to it: it gets the larger part.
    const char ellipsis[] = "...";
    const size_t head = 64;
    const size_t tail = room - head - (sizeof ellipsis - 1);
    memcpy(error.FileName, path, head);
    memcpy(error.FileName + head, ellipsis, sizeof ellipsis - 1);
    memcpy(error.FileName + head + sizeof ellipsis - 1, path + length - tail, tail + 1);
    return error;
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
