// Extraction of the package Setup.z into the destination folder and the system folder.
#pragma once

#include "core/FileAccess.h"

#include <windows.h>

#include <stdint.h>

// Installs every entry of package, which must stand at its start, into DestinationFolder (or
// the system folder for '@' entries), appending to log what it creates, and reports each entry on
// the progress dialog (null: no reports). Ends normally when fewer than a header's bytes are
// left after an entry. Throws ZorvaneException:
//   ErrUnexpectedEndOfFile (package) for an empty package or one cut inside an entry;
//   ErrInvalidOrCorrupt (package) for an entry whose target would leave its folder, does not
//     fit in MAX_PATH, or whose text fields lack their terminator (nothing of that entry is done),
//     and for stored bytes that do not expand exactly (the entry is not installed);
//   ErrUnableToOpen (temporary folder or file) when the temporaries cannot be made or opened;
//   ErrFailedToCreateFolder (folder) when a target's folder chain cannot be made;
//   ErrWriteError (target) when a file cannot be copied into place, or (log) from the log;
//   ErrReadError (package), ErrWriteError (temporary) from the file classes.
// Both temporaries ("~vt", "~vx" in the temporary folder) are gone when it returns or throws.
// What was installed and logged before a failure stays. Processes no window messages.
void ExtractPackage(HWND progress, FileReader& package, FileWriter& log);

// Copies exactly count bytes (none when count is 0 or less) from package to output in chunks of
// at most 64 KiB, one read and one write each. Throws what the reader and writer throw.
void CopyStoredBytes(FileReader& package, FileWriter& output, int32_t count);

// The file version of the fixed file information in path's version resource: high is
// dwFileVersionMS, low dwFileVersionLS. False, outputs untouched, when path is missing, a folder
// or has no readable version resource.
bool ReadFileVersion(const char* path, DWORD* high, DWORD* low);
