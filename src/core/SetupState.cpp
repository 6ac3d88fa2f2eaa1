#include "core/SetupState.h"

HINSTANCE ModuleInstance;
HBITMAP WizardBitmap;
char DestinationFolder[MAX_PATH];
char RegisteredOwnerName[128];
