#include "driver/PackageInstall.h"

#include "core/SetupState.h"
#include "core/UserMessages.h"
#include "core/ZorvaneException.h"
#include "payload/PackageExtraction.h"
#include "ui/ProgressDisplay.h"

namespace {

// What the extraction's reports reach: the dialog and the run's own question whether to stop.
struct ProgressDialogReports {
    HWND Progress;
    bool (*StopRequested)();
};

void ShowStatusOnDialog(void* context, const char* text)
{
    SetProgressStatus(static_cast<ProgressDialogReports*>(context)->Progress, text);
}

void ShowPercentOnDialog(void* context, unsigned percent)
{
    SetProgressPosition(static_cast<ProgressDialogReports*>(context)->Progress, percent);
}

bool AskStopRequested(void* context)
{
    bool (*stopRequested)() = static_cast<ProgressDialogReports*>(context)->StopRequested;
    return stopRequested != nullptr && stopRequested();
}

} // namespace

void ExtractPackage(HWND progress, FileReader& package, FileWriter& log, bool (*stopRequested)())
{
    ProgressDialogReports reports = {progress, stopRequested};
    const ExtractionProgress wired = {&reports, ShowStatusOnDialog, ShowPercentOnDialog, AskStopRequested};
    if (ExtractPackageInto(DestinationFolder, package, log, wired) == ExtractionEnd::Stopped)
        throw ZorvaneException(ErrOwnText, CancelledText);
}
