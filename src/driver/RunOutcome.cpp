#include "driver/RunOutcome.h"

#include "core/DiagnosticLog.h"
#include "driver/UserMessages.h"
#include "payload/BootTimeDeletion.h"
#include "ui/WindowStop.h"

int FailureExitCode(const ZorvaneException& error, const char* packagePath)
{
    if (StopRequested())
        return ExitCancelled;
    const bool damaged = error.ErrorCode == ErrInvalidOrCorrupt || error.ErrorCode == ErrUnexpectedEndOfFile;
    if (damaged && packagePath != nullptr && lstrcmpiA(error.FileName, packagePath) == 0)
        return ExitPackageDamaged;
    return ExitFailure;
}

bool StopRequested() { return StopAsked(); }

bool StoppedHere()
{
    if (!StopRequested())
        return false;
    WriteLogLine("stopped", CancelledText);
    RecordExitCode(ExitCancelled);
    return true;
}

void RecordFilesLeftForRestart()
{
    if (FilesLeftForRestart() > 0)
        RecordExitCode(ExitRestartNeeded);
}
