// The diagnostic log of an unattended run (/log=FILE): one line per step, every message the run
// would have shown, and its exit code, for deployment tools and administrators to read. UTF-8
// text with CR LF line ends, created or appended to.
#pragma once

#include <windows.h>

// Opens path (zero-terminated, under MAX_PATH bytes) for appending, creating it and the missing
// folders above it; others may read and append meanwhile. False, with no log open, when the system
// refuses.
bool OpenDiagnosticLog(const char* path);

// Writes what is still held back (see WriteLogLine) and closes the log. Nothing when none is open.
void CloseDiagnosticLog();

// Appends one line: the local time, step, ": " and outcome, converted from the ANSI code page to
// UTF-8. Within outcome a carriage return starts a continuation line (the line breaks of a
// message box); line feeds are dropped. Texts are cut to 2047 bytes together. Does nothing when
// no log is open. A line the system cannot take (a full drive) is held back, up to 16 KiB, and
// written ahead of the next one: the installation's own temporaries, freed when it stops, are
// often on the same drive.
void WriteLogLine(const char* step, const char* outcome);

// When count is not 0: appends the line step: "COUNT what" (what cut to fit 96 bytes).
void WriteCountLine(const char* step, int count, const char* what);

// Converts text (ANSI code page, zero-terminated) to UTF-8 in utf8 (size bytes, at least 1),
// cutting at a whole character where it does not fit. Returns the bytes written, without the
// terminator that always follows.
int AnsiToUtf8(const char* text, char* utf8, int size);
