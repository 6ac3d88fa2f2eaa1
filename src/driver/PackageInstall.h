// The package extraction as the install sequence runs it: into DestinationFolder, shown on the
// progress dialog, a stop asked for turned into the run's cancellation.
#pragma once

#include "core/FileAccess.h"

#include <windows.h>

// Installs every entry of package, which must stand at its start, into DestinationFolder (or the
// system folder for '@' entries), appending to log what it creates (ExtractPackageInto). Each
// entry's name goes to the status text of the progress dialog progress (paced), the whole percent
// of the package read to its bar; progress may be null (nothing is shown). Before each entry it
// asks stopRequested (when given) and, on true, throws ErrOwnText with CancelledText. Throws what
// ExtractPackageInto throws. On return the reader and the writer are still open.
void ExtractPackage(HWND progress, FileReader& package, FileWriter& log, bool (*stopRequested)() = nullptr);
