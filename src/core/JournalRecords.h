// The shape of a journal record, once for its writer and its readers: a kind letter and its fields,
// separated by tabs (which no path and no value name of this program holds), one record a line
// ended by CR LF. A line without its line end was being written when the run stopped: its change
// was never made.
#pragma once

#include "core/InstallJournal.h"

#include <windows.h>

#include <stddef.h>

// The kinds of record and their fields (the kind letter is field 0).
const char HeaderKind = 'H';    // version, product, registry view, system folder, destination, I or U
const char FolderKind = 'D';    // a folder the run makes
const char FileKind = 'F';      // a file the run makes where none was
const char ReplacedKind = 'R';  // a file the run replaces, and the aside name its old file gets
const char WithdrawnKind = 'W'; // a replacement recorded ahead whose rename was never made: target, aside
const char MadeKind = 'M';      // a file the run made, its size and last-write time (DescribeFile)
const char TemporaryKind = 'T'; // an extraction temporary the run makes
const char KeyKind = 'K';       // root ("HKLM", "HKCU") and path of a key the run makes
const char ValueKind = 'V';     // root, key path, value name, and type and hex data, or AbsentData
const char CommitKind = 'C';    // the run committed

// What a header names besides the product, the system folder and the destination: the journal's
// format and the registry view of this build.
extern const char JournalVersion[];
extern const char* const BuildView;

// The type field of a value that did not exist; such a record has no data field.
extern const char AbsentData[];

// The most fields a record has, its kind included, and the longest line (line end included).
const int MaxRecordFields = 7;
const size_t RecordLineSize = 2 * MaxJournalledValue + 3 * MAX_PATH + 64;

// Puts the record of kind with its count fields into line (size bytes), without its line end.
// Returns its length; -1 when the fields are not those the kind has, when one holds a separator
// (ERROR_INVALID_PARAMETER), or when the line does not fit (ERROR_FILENAME_EXCED_RANGE).
int ComposeRecord(char kind, const char* const* fields, int count, char* line, size_t size);

// The fields of record line (kind first), split in copy (RecordLineSize bytes) into fields
// (MaxRecordFields); the fields a line lacks read as empty. Returns how many it has.
int RecordFields(const char* line, char* copy, char** fields);

// True when line is a record (other than the header) whose fields are those its kind has.
bool WellFormed(const char* line);

// True when text holds a tab or a line end, which no field may hold.
bool HasSeparators(const char* text);

// The size and the last-write time of the file at path as a made record holds them, in size and
// time (17 bytes each); false when it has none (missing, or a folder).
bool DescribeFile(const char* path, char* size, char* time);
