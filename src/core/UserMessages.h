// Texts that the layers below the driver report with and the driver shows: how each message
// reaches the user, and what it means for the run, is the driver's (driver/UserMessages).
#pragma once

// The message of a run the user stopped: extraction throws it (ErrOwnText) at its next safe point.
extern const char CancelledText[];
