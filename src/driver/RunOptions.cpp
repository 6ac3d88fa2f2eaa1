#include "driver/RunOptions.h"

int UninstallMode;
SetupOptions RunOptions;

bool IsUnattended() { return RunOptions.Ui != UiLevel::Full; }
