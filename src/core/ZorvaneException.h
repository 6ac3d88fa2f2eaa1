// The one error type of the setup program and the text composed for it; the driver shows it
// (driver/UserMessages ShowError).
#pragma once

#include <windows.h>

// What went wrong; the value is the exception's ErrorCode.
enum ErrorCodes {
    ErrFileNotFound = 1,
    ErrUnableToOpen = 2,
    ErrReadError = 3,
    ErrWriteError = 4,
    ErrNotEnoughMemory = 5,
    ErrInvalidPresetFile = 6,
    ErrInvalidProjectListFile = 7,
    ErrInvalidProjectFile = 8,
    ErrInvalidCategoryListFile = 9,
    ErrUnableToShowDialog = 11,
    ErrInvalidOrCorrupt = 12,
    ErrUnableToDelete = 13,
    ErrUnexpectedEndOfFile = 14,
    ErrOwnText = 15,
    ErrFailedToCreateFolder = 16,
    ErrInternal = 100,
};

// A plain record thrown by value. Construct it directly after the failing system call:
// the constructor captures the thread's last error before it makes any call of its own.
class ZorvaneException {
public:
    // FileName is left empty.
    explicit ZorvaneException(int errorCode);
    // name: a path (or, for ErrOwnText, the whole message); may be null. A name longer than
    // 259 bytes is cut to 259 bytes.
    ZorvaneException(int errorCode, const char* name);

    char SystemText[256]; // system text for SystemError; empty when there is none or it did not fit
    char FileName[MAX_PATH];
    DWORD SystemError;
    int ErrorCode;
};

// An exception of errorCode for a path that does not fit MAX_PATH (any length): the system's "file
// name too long" error, and in FileName the path itself, or, when it is too long for that, its
// start and its end joined by "..." so that both the drive and the file name show.
ZorvaneException PathTooLong(int errorCode, const char* path);

// Holds the text of the last ComposeMessageText; overwritten by every composition.
extern char MessageTextBuffer[1024];

// Returns the user-facing text of the exception: a pointer into MessageTextBuffer, or for
// ErrOwnText the exception's own FileName.
const char* ComposeMessageText(const ZorvaneException& error);
