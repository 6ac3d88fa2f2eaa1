// Removal of what an installation recorded in its install log.
#pragma once

#include "core/ZorvaneException.h"
#include "payload/RemovalBounds.h"

#include <windows.h>

#include <optional>

// How RemoveLoggedFiles ended.
enum class LogRemovalOutcome {
    Removed,    // the log was processed to its end (or, resumed, had been already)
    NoLog,      // the log cannot be opened: nothing was touched
    ReadFailed, // a read of the log failed: ReadError says why
};

struct LogRemovalResult {
    LogRemovalOutcome Outcome;
    std::optional<ZorvaneException> ReadError; // with ReadFailed only
};

// Deletes every file the log Setup.log in installationFolder names ('+'), then removes every
// folder chain it names ('#'), deletes the log and asks Windows to delete installationFolder's
// Setup.exe at the next start (Wininit.ini and the system's own pending deletions). A record is
// acted on only when its path (doubled backslashes read as one, as the system reads them) is absolute, has no
// component Windows reads as "." or "..", and lies in installationFolder, the system folder or the product's
// Start-menu folder; any other record, and a line longer than the reader's line buffer, is passed over. Files
// and folders that cannot be deleted are passed over silently. Shell calls are owned by owner; it shows
// nothing. Removed when the log was processed to its end; NoLog, touching nothing, when the log cannot be
// opened; ReadFailed when a read of the log fails: what went so far stays gone, the log stays and nothing is
// requested for the next start.
// With logDeleted (an uninstall resumed after a cut, which may have deleted the log already), a log
// that cannot be opened is no failure: the uninstaller's deletion is requested and Removed returned.
LogRemovalResult RemoveLoggedFiles(HWND owner, const char* installationFolder, bool logDeleted = false);
