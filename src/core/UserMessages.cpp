#include "core/UserMessages.h"

const char CancelledText[] = "Setup was cancelled by the user.";
