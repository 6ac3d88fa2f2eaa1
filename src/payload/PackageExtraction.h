// Extraction of the package Setup.z: every entry in turn expanded (payload/EntryExpansion) and put
// in place (payload/EntryPlacement) in the folder it is handed or the system folder. It reports
// its progress through ExtractionProgress and is told, between entries, whether to stop; what a
// stop means to the run is the caller's to decide.
#pragma once

#include "core/FileAccess.h"

// What the extraction tells of its progress and asks about going on; the caller wires it to what
// shows it. Each function may be null; each is handed Context.
struct ExtractionProgress {
    void* Context;
    // The name of the entry being installed, paced: at most one every StatusPaceMs, a long
    // entry's while it is written.
    void (*ShowStatus)(void* context, const char* text);
    // The whole percent of the package read (0 to 100), each time it changes, after an entry.
    void (*ShowPercent)(void* context, unsigned percent);
    // Asked before each entry: true stops the extraction there, so that no file is half written.
    bool (*StopRequested)(void* context);
};

// How an extraction that did not throw ended.
enum class ExtractionEnd {
    Completed, // every entry was installed
    Stopped,   // StopRequested said so before an entry; the entries before it stay installed
};

// Installs every entry of package, which must stand at its start, into destination (or the system
// folder for '@' entries), appending to log what it creates, and reports on progress. A file kept
// by its rule is logged too when an uninstall left it for the restart (IsDeletedAtRestart). Ends
// normally when fewer than a header's bytes are left after an entry. Throws ZorvaneException:
//   ErrUnexpectedEndOfFile (package) for an empty package or one cut inside an entry;
//   ErrInvalidOrCorrupt (package) for an entry whose target would leave its folder or whose text
//     fields lack their terminator (nothing of that entry is done), and for stored bytes that do
//     not expand exactly (the entry is not installed);
//   ErrWriteError (target, shortened to fit) with the system's "file name too long" error for a
//     target path that does not fit MAX_PATH (nothing of that entry is done);
//   ErrUnableToOpen (temporary folder or file) when the temporaries cannot be made or opened;
//   ErrFailedToCreateFolder (folder) when a target's folder chain cannot be made;
//   ErrWriteError (target) when a file cannot be copied into place, or (log) from the log;
//   ErrReadError (package), ErrWriteError (temporary) from the file classes.
// Both temporaries ("~vt", "~vx" in the temporary folder) are made at its start and gone when it
// returns or throws; an entry's content goes through them only when it cannot be held in memory.
// What was installed and logged before a failure or a stop stays. Processes no window messages.
ExtractionEnd ExtractPackageInto(const char* destination, FileReader& package, FileWriter& log,
                                 const ExtractionProgress& progress);
