// The install log Setup.log: one line per folder ('#') or file ('+') the installation made.
#pragma once

#include "core/FileAccess.h"

// The log's file name in the destination folder.
extern const char InstallLogName[];

const char FolderRecord = '#';
const char FileRecord = '+';

// Appends the kind byte, the path and CR LF. A failed write throws ErrWriteError with the log's
// path; the lines written before it stay.
void WriteLogRecord(FileWriter& log, char kind, const char* path);
