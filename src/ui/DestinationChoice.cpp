#include "ui/DestinationChoice.h"

#include "core/PathUtilities.h"
#include "core/SetupState.h"
#include "ui/InstallWizard.h"

int ChooseDestination(HWND owner)
{
    if (!IsUnattended())
        return RunInstallWizard(owner);
    // The folder /dir names is the installation folder itself: an administrator chose it whole.
    if (RunOptions.Folder[0] != '\0') {
        lstrcpynA(DestinationFolder, RunOptions.Folder, sizeof DestinationFolder);
        return 1;
    }
    return AppendPathComponent(DestinationFolder, ProductFolderSuffix) ? 1 : 0;
}
