#include "core/SetupState.h"

HINSTANCE ModuleInstance;
int UninstallMode;
HBITMAP WizardBitmap;
char DestinationFolder[MAX_PATH];
char RegisteredOwnerName[128];
SetupOptions RunOptions;
std::atomic<bool> CancelRequested;

bool IsUnattended() { return RunOptions.Ui != UiLevel::Full; }
