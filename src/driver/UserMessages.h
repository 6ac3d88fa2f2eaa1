// How a message reaches the user, decided in this one place: a message box in the interactive run;
// in an unattended run a line of the diagnostic log, the answer the run's options give, and the
// exit code the run ends with.
#pragma once

#include "core/UserMessages.h"
#include "core/ZorvaneException.h"

#include <windows.h>

// Exit codes of an unattended run: the Windows Installer's own numbers, which deployment tools
// already read. The interactive run always ends with ExitSuccess.
enum ExitCodes {
    ExitSuccess = 0,
    ExitCancelled = 1602,          // the user closed the passive window
    ExitFailure = 1603,            // any other failure; its message is in the log
    ExitNotInstalled = 1605,       // uninstall: the product is not installed
    ExitBusy = 1618,               // the product or another Setup.exe of it runs; tools try again later
    ExitPackageUnopenable = 1619,  // the package cannot be opened
    ExitPackageDamaged = 1620,     // the package is cut short or its data are damaged
    ExitLogUnopenable = 1622,      // the /log file cannot be opened
    ExitInvalidCommandLine = 1639, // an unknown switch or a refused value
    ExitRestartNeeded = 3010,      // success; a file of the product goes only at the next restart
};

// Interactive run: shows text (a carriage return breaks the line) in a modal message box with
// caption and style (MB_* buttons and icon), owned by owner, and returns the button pressed.
// Unattended run: shows nothing; writes caption, kind, the answer taken (for more than an OK
// button) and text to the diagnostic log, records exitCode with RecordExitCode and returns
// unattendedAnswer.
int ShowMessage(HWND owner, const char* text, const char* caption, UINT style, int unattendedAnswer = IDOK,
                int exitCode = ExitSuccess);

// Records code as the run's outcome. The first failure stays; ExitRestartNeeded replaces only
// ExitSuccess; ExitSuccess changes nothing.
void RecordExitCode(int code);

// The code the run ends with so far: ExitSuccess until a message or a step recorded another.
int RunExitCode();

// Back to ExitSuccess, for a second run in the same process.
void ClearExitCode();

// Shows the composed text of error (ComposeMessageText) in a modal message box (caption "Setup",
// error icon, OK) owned by owner; an unattended run logs it and ends with exitCode instead.
void ShowError(const ZorvaneException& error, HWND owner, int exitCode = ExitFailure);
