// The install log Setup.log: one line per folder ('#') or file ('+') the installation made.
#pragma once

#include "core/FileAccess.h"
#include "payload/RemovalBounds.h"

// The log's file name in the destination folder.
extern const char InstallLogName[];

const char FolderRecord = '#';
const char FileRecord = '+';

// Appends the kind byte, the path and CR LF. A failed write throws ErrWriteError with the log's
// path; the lines written before it stay. Between BeginRunLog and EndRunLog the record is kept in
// memory as well (ErrNotEnoughMemory, before anything is written, when it cannot be).
void WriteLogRecord(FileWriter& log, char kind, const char* path);

// An install into a folder that holds the log of an earlier install carries that log's records
// forward, so that the uninstall still finds what the earlier runs made and this run leaves in
// place (files kept, folders made then, files the package no longer has, shortcuts elsewhere).

// Begins a run's log at logPath, before the run replaces the file there: keeps in memory the records
// of the log found there (none when there is no file), read as the removal reads them (a carriage
// return ends a line, line feeds count for nothing, a line of more than 459 characters is no
// record), and from now on every record WriteLogRecord writes. Throws ErrUnableToOpen or
// ErrReadError (logPath) when an existing log cannot be read whole, ErrNotEnoughMemory.
void BeginRunLog(const char* logPath);

// The earlier log's records CarryEarlierRecords takes: those the removal of allowed acts on outside
// the product's Start-menu folders, or those inside them (shortcuts, which the log lists last).
enum class CarriedPart { Installed, Shortcuts };

// Appends to log, in the earlier log's order, every earlier record of part whose file (for '+') or
// folder (for '#') exists and whose path, as the system reads it (IsSamePathText), this run has
// not logged with the same kind, each once. Returns how many. Write failures propagate.
int CarryEarlierRecords(FileWriter& log, const AllowedFolders& allowed, CarriedPart part);

// True when path names, however spelt (IsSameFile), the file of a file record the run has written
// or carried so far.
bool NamesLoggedFile(const char* path);

// Forgets the records kept since BeginRunLog.
void EndRunLog();
