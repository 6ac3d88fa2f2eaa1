#include "core/SetupState.h"

HINSTANCE ModuleInstance;
int UninstallMode;
HBITMAP WizardBitmap;
char DestinationFolder[MAX_PATH];
char RegisteredOwnerName[128];
