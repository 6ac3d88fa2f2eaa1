#include "core/JournalRecords.h"

#include <stdio.h>
#include <string.h>

const char AbsentData[] = "-";
const char JournalVersion[] = "2";
// The registry view and system folder the paths and keys of this build are made in.
const char* const BuildView = sizeof(void*) == 8 ? "64-bit" : "32-bit";

namespace {

// Each kind's fields, its kind letter included. A value record of a value that was absent ends
// early, in AbsentData.
struct RecordShape {
    char Kind;
    int Fields;
    int AbsentFields; // the count of the short form ending in AbsentData; 0 for none
};

const RecordShape RecordShapes[] = {
    {HeaderKind, 7, 0}, {FolderKind, 2, 0},    {FileKind, 2, 0}, {ReplacedKind, 3, 0}, {WithdrawnKind, 3, 0},
    {MadeKind, 4, 0},   {TemporaryKind, 2, 0}, {KeyKind, 3, 0},  {ValueKind, 6, 5},    {CommitKind, 1, 0},
};

const RecordShape* ShapeOf(char kind)
{
    for (const RecordShape& shape : RecordShapes)
        if (shape.Kind == kind)
            return &shape;
    return nullptr;
}

// True when a record of this shape may have count fields, whose last is last.
bool FitsShape(const RecordShape& shape, int count, const char* last)
{
    return count == shape.Fields || (count == shape.AbsentFields && strcmp(last, AbsentData) == 0);
}

// Splits line at its tabs into at most count fields; returns how many it found.
int SplitFields(char* line, char** fields, int count)
{
    int found = 0;
    while (found < count) {
        fields[found++] = line;
        char* tab = strchr(line, '\t');
        if (tab == nullptr)
            break;
        *tab = '\0';
        line = tab + 1;
    }
    return found;
}

} // namespace

bool HasSeparators(const char* text) { return strpbrk(text, "\t\r\n") != nullptr; }

int ComposeRecord(char kind, const char* const* fields, int count, char* line, size_t size)
{
    const RecordShape* shape = ShapeOf(kind);
    if (shape == nullptr || !FitsShape(*shape, count + 1, count > 0 ? fields[count - 1] : "")) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    size_t length = 0;
    if (size < 2) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return -1;
    }
    line[length++] = kind;
    for (int i = 0; i < count; ++i) {
        if (HasSeparators(fields[i])) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return -1;
        }
        size_t field = strlen(fields[i]);
        if (length + 1 + field >= size) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return -1;
        }
        line[length++] = '\t';
        memcpy(line + length, fields[i], field);
        length += field;
    }
    line[length] = '\0';
    return static_cast<int>(length);
}

int RecordFields(const char* line, char* copy, char** fields)
{
    lstrcpynA(copy, line, RecordLineSize);
    int count = SplitFields(copy, fields, MaxRecordFields);
    // Fields a record lacks read as empty: a malformed one is refused by WellFormed, not read past.
    static char none[] = "";
    for (int i = count; i < MaxRecordFields; ++i)
        fields[i] = none;
    return count;
}

bool WellFormed(const char* line)
{
    char copy[RecordLineSize];
    char* fields[MaxRecordFields] = {};
    int count = RecordFields(line, copy, fields);
    if (strlen(fields[0]) != 1 || fields[0][0] == HeaderKind)
        return false;
    const RecordShape* shape = ShapeOf(fields[0][0]);
    return shape != nullptr && FitsShape(*shape, count, fields[count - 1]);
}

bool DescribeFile(const char* path, char* size, char* time)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    snprintf(size, 17, "%08lX%08lX", static_cast<unsigned long>(data.nFileSizeHigh),
             static_cast<unsigned long>(data.nFileSizeLow));
    snprintf(time, 17, "%08lX%08lX", static_cast<unsigned long>(data.ftLastWriteTime.dwHighDateTime),
             static_cast<unsigned long>(data.ftLastWriteTime.dwLowDateTime));
    return true;
}
