#include "ui/DestinationChoice.h"

#include "core/PathUtilities.h"
#include "core/SetupState.h"
#include "ui/InstallWizard.h"

int ChooseDestination(HWND owner, const char* folder)
{
    if (folder != nullptr)
        lstrcpynA(DestinationFolder, folder, sizeof DestinationFolder);
    if (!IsUnattended())
        return RunInstallWizard(owner, folder != nullptr);
    // A given folder is the installation folder itself: an administrator chose it whole, or the
    // installed product lives there.
    if (folder != nullptr)
        return 1;
    return AppendPathComponent(DestinationFolder, ProductFolderSuffix) ? 1 : 0;
}
