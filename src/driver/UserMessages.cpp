#include "driver/UserMessages.h"

#include "core/DiagnosticLog.h"
#include "driver/RunOptions.h"

#include <stdio.h>

namespace {

int Outcome = ExitSuccess;

const char* KindOf(UINT style)
{
    switch (style & MB_ICONMASK) {
    case MB_ICONHAND:
        return "error";
    case MB_ICONQUESTION:
        return "question";
    case MB_ICONEXCLAMATION:
        return "warning";
    case MB_ICONASTERISK:
        return "information";
    default:
        return "message";
    }
}

const char* ButtonName(int id)
{
    switch (id) {
    case IDOK:
        return "OK";
    case IDCANCEL:
        return "Cancel";
    case IDYES:
        return "Yes";
    case IDNO:
        return "No";
    default:
        return "another button";
    }
}

} // namespace

int ShowMessage(HWND owner, const char* text, const char* caption, UINT style, int unattendedAnswer,
                int exitCode)
{
    if (!IsUnattended())
        return MessageBoxA(owner, text, caption, style);

    char step[128];
    if ((style & MB_TYPEMASK) == MB_OK)
        snprintf(step, sizeof step, "%s, %s", caption, KindOf(style));
    else
        snprintf(step, sizeof step, "%s, %s, answered %s", caption, KindOf(style),
                 ButtonName(unattendedAnswer));
    WriteLogLine(step, text);
    RecordExitCode(exitCode);
    return unattendedAnswer;
}

void RecordExitCode(int code)
{
    bool failed = Outcome != ExitSuccess && Outcome != ExitRestartNeeded;
    if (code != ExitSuccess && !failed)
        Outcome = code;
}

int RunExitCode() { return Outcome; }

void ClearExitCode() { Outcome = ExitSuccess; }

void ShowError(const ZorvaneException& error, HWND owner, int exitCode)
{
    ShowMessage(owner, ComposeMessageText(error), "Setup", MB_OK | MB_ICONERROR, IDOK, exitCode);
}
