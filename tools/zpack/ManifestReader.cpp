#include "ManifestReader.h"

#include <ctype.h>
#include <string.h>

namespace {

const size_t MaxFields = 5;
// A package entry holds at most this many stored bytes (StoredSize is signed).
const uint64_t MaxStoredSize = 0x7FFFFFFF;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char* Trim(char* text)
{
    while (IsBlank(*text))
        ++text;
    size_t length = strlen(text);
    while (length > 0 && IsBlank(text[length - 1]))
        text[--length] = '\0';
    return text;
}

bool SameIgnoringCase(const char* a, const char* b)
{
    for (; *a != '\0' && *b != '\0'; ++a, ++b)
        if (tolower(static_cast<unsigned char>(*a)) != tolower(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

// True when folder, letter case ignored, is a leading run of target's components: target's file
// lies in it. System-folder targets only meet each other, as no other target begins with '@'.
bool IsFolderOf(const char* folder, const char* target)
{
    size_t length = strlen(folder);
    if (strlen(target) <= length || target[length] != '\\')
        return false;
    for (size_t i = 0; i < length; ++i)
        if (tolower(static_cast<unsigned char>(folder[i])) != tolower(static_cast<unsigned char>(target[i])))
            return false;
    return true;
}

const char* CheckRelativePath(const char* path)
{
    if (path[0] == '\\')
        return "the target begins with a backslash";
    for (const char* p = path; *p != '\0'; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == ':')
            return "the target names a drive or a stream (':')";
        if (c == '/')
            return "the target contains '/'; separate folders with backslashes";
        if (IsReservedNameCharacter(static_cast<char>(c)))
            return "the target contains a character Windows does not allow in file names";
    }
    for (const char* begin = path;;) {
        const char* end = strchr(begin, '\\');
        if (end == nullptr)
            end = begin + strlen(begin);
        size_t length = static_cast<size_t>(end - begin);
        if (length == 0)
            return "the target has an empty folder or file name";
        if (length == 2 && begin[0] == '.' && begin[1] == '.')
            return "the target has a '..' component";
        if (strspn(begin, ". ") >= length)
            return "the target has a component made of dots";
        if (begin[length - 1] == '.' || begin[length - 1] == ' ')
            return "a name in the target ends with a dot or a blank, which Windows drops";
        if (IsDeviceName(begin, end))
            return "the target names a device (CON, PRN, AUX, NUL, COM1-9 or LPT1-9)";
        if (*end == '\0')
            break;
        begin = end + 1;
    }
    // The setup program's own check has the last word.
    return IsContainedRelativePath(path) ? nullptr : "the target would leave its folder";
}

bool ParseOverwrite(const char* text, uint16_t* mode)
{
    if (text[0] == '\0' || !strcmp(text, "always-replace"))
        *mode = AlwaysReplace;
    else if (!strcmp(text, "replace-if-newer"))
        *mode = ReplaceIfNewer;
    else if (!strcmp(text, "keep-existing"))
        *mode = KeepExisting;
    else
        return false;
    return true;
}

bool IsAbsoluteSource(const char* source)
{
#ifdef _WIN32
    if (isalpha(static_cast<unsigned char>(source[0])) && source[1] == ':')
        return true;
#endif
    return IsSeparatorCharacter(source[0]);
}

enum LineStatus { LineRead, LineTooLong, LineHasZero, NoMoreLines };

// Reads one line into line (ManifestLineSize + 1 bytes) without its line end (LF, CR LF or the
// end of the file), so that every ending allows the same length. A line too long or holding a
// zero byte is read to its end and left out.
LineStatus ReadLine(FILE* file, char* line)
{
    size_t count = 0; // characters of the line, a final CR included
    bool zero = false;
    bool lastWasReturn = false;
    int c;
    while ((c = fgetc(file)) != EOF && c != '\n') {
        if (count < ManifestLineSize)
            line[count] = static_cast<char>(c);
        zero = zero || c == '\0';
        lastWasReturn = c == '\r';
        ++count;
    }
    if (c == EOF && count == 0)
        return NoMoreLines;
    if (lastWasReturn)
        --count;
    if (count > ManifestLineSize)
        return LineTooLong;
    line[count] = '\0';
    return zero ? LineHasZero : LineRead;
}

struct ManifestContext {
    const char* Path;
    FILE* Err;
    unsigned Line;
    unsigned Errors;
};

void Refuse(ManifestContext* context, const char* format, const char* detail = "")
{
    fprintf(context->Err, "zpack: %s:%u: ", context->Path, context->Line);
    fprintf(context->Err, format, detail);
    fputc('\n', context->Err);
    context->Errors++;
}

// Checks one entry line (already without its line end); appends the entry when it is sound.
void ReadEntryLine(ManifestContext* context, char* line, const char* folder,
                   std::vector<ManifestEntry>* entries)
{
    char* fields[MaxFields] = {nullptr};
    size_t count = 0;
    for (char* field = line;;) {
        char* bar = strchr(field, '|');
        if (bar != nullptr)
            *bar = '\0';
        if (count == MaxFields) {
            Refuse(context, "more than five fields (target | source | display text | overwrite | storage)");
            return;
        }
        fields[count++] = Trim(field);
        if (bar == nullptr)
            break;
        field = bar + 1;
    }
    static char empty[] = "";
    for (size_t i = count; i < MaxFields; ++i)
        fields[i] = empty;
    const char* target = fields[0];
    const char* source = fields[1];
    const char* display = fields[2];

    ManifestEntry entry;
    memset(&entry, 0, sizeof entry);
    entry.Line = context->Line;
    unsigned errorsBefore = context->Errors;

    if (const char* problem = CheckManifestTarget(target))
        Refuse(context, "%s", problem);
    else
        snprintf(entry.Target, sizeof entry.Target, "%s", target);

    if (strlen(display) >= PackageTextSize) {
        Refuse(context, "the display text is longer than 63 characters");
    } else if (display[0] != '\0') {
        snprintf(entry.DisplayText, sizeof entry.DisplayText, "%s", display);
    } else if (entry.Target[0] != '\0') {
        const char* name = strrchr(entry.Target, '\\');
        snprintf(entry.DisplayText, sizeof entry.DisplayText, "%s",
                 name != nullptr ? name + 1 : entry.Target);
    }

    if (!ParseOverwrite(fields[3], &entry.OverwriteMode))
        Refuse(context, "unknown overwrite mode '%s' (replace-if-newer, keep-existing or always-replace)",
               fields[3]);
    if (fields[4][0] == '\0' || !strcmp(fields[4], "compress"))
        entry.Store = false;
    else if (!strcmp(fields[4], "store"))
        entry.Store = true;
    else
        Refuse(context, "unknown storage '%s' (compress or store)", fields[4]);

    if (source[0] == '\0') {
        Refuse(context, "the source file is missing");
    } else {
        int length = IsAbsoluteSource(source)
                         ? snprintf(entry.Source, sizeof entry.Source, "%s", source)
                         : snprintf(entry.Source, sizeof entry.Source, "%s%s", folder, source);
        if (length < 0 || static_cast<size_t>(length) >= sizeof entry.Source) {
            Refuse(context, "the source path is too long");
        } else {
            PathKind kind = InspectPath(entry.Source, &entry.SourceSize);
            if (kind == PathMissing)
                Refuse(context, "source file '%s' does not exist", entry.Source);
            else if (kind == PathFolder)
                Refuse(context, "source '%s' is a folder, not a file", entry.Source);
            else if (kind == PathOtherKind)
                Refuse(context, "source '%s' is not a regular file", entry.Source);
            else if (!entry.Store && entry.SourceSize > MaxExpandedEntrySize)
                Refuse(context,
                       "source '%s' is larger than 2147483647 bytes, the most the setup program expands",
                       entry.Source);
            else if (entry.Store && entry.SourceSize > MaxStoredSize)
                Refuse(context, "source '%s' is larger than 2147483647 bytes, the most an entry can store",
                       entry.Source);
        }
    }

    if (entry.Target[0] != '\0') {
        // A file where another entry needs a folder (or the reverse) would stop the setup program.
        for (const ManifestEntry& earlier : *entries) {
            char message[192];
            if (SameIgnoringCase(earlier.Target, entry.Target))
                snprintf(message, sizeof message, "the target is already listed on line %u", earlier.Line);
            else if (IsFolderOf(earlier.Target, entry.Target))
                snprintf(message, sizeof message,
                         "the target needs the folder '%.*s', which line %u lists as a file",
                         static_cast<int>(strlen(earlier.Target)), entry.Target, earlier.Line);
            else if (IsFolderOf(entry.Target, earlier.Target))
                snprintf(message, sizeof message, "the target names a folder that line %u needs for its file",
                         earlier.Line);
            else
                continue;
            Refuse(context, "%s", message);
            break;
        }
    }
    if (context->Errors == errorsBefore)
        entries->push_back(entry);
}

} // namespace

const char* CheckManifestTarget(const char* target)
{
    if (target[0] == '\0')
        return "the target is empty";
    if (target[0] == SystemFolderMark) {
        if (target[1] != '\\')
            return "a system-folder target is written @\\name";
        if (strlen(target + SystemFolderNameOffset) >= PackageTextSize - SystemFolderNameOffset)
            return "the system-folder name is longer than 61 characters";
        if (target[SystemFolderNameOffset] == '\0')
            return "the system-folder name is empty";
        return CheckRelativePath(target + SystemFolderNameOffset);
    }
    if (strlen(target) >= PackageTextSize)
        return "the target is longer than 63 characters";
    return CheckRelativePath(target);
}

const char* OverwriteModeName(uint16_t mode)
{
    switch (mode) {
    case ReplaceIfNewer:
        return "replace-if-newer";
    case KeepExisting:
        return "keep-existing";
    default:
        return "always-replace";
    }
}

bool ReadManifest(const char* path, std::vector<ManifestEntry>* entries, FILE* err)
{
    entries->clear();
    FILE* file = OpenForReading(path);
    if (file == nullptr) {
        fprintf(err, "zpack: %s: cannot open the manifest\n", path);
        return false;
    }
    // Sources are relative to the manifest's folder: everything up to its last separator.
    char folder[ToolPathSize];
    snprintf(folder, sizeof folder, "%s", path);
    size_t cut = strlen(folder);
    while (cut > 0 && !IsSeparatorCharacter(folder[cut - 1]))
        --cut;
    folder[cut] = '\0';

    ManifestContext context = {path, err, 0, 0};
    char line[ManifestLineSize + 1];
    for (;;) {
        LineStatus status = ReadLine(file, line);
        if (status == NoMoreLines)
            break;
        context.Line++;
        if (status == LineTooLong) {
            Refuse(&context, "the line is longer than 2048 characters");
            continue;
        }
        if (status == LineHasZero) {
            Refuse(&context, "the line contains a zero byte");
            continue;
        }
        size_t length = strlen(line);
        while (length > 0 && line[length - 1] == '\r')
            line[--length] = '\0';
        char* text = line;
        if (context.Line == 1 && !strncmp(text, "\xEF\xBB\xBF", 3))
            text += 3;
        char* start = Trim(text);
        if (start[0] == '\0' || start[0] == '#')
            continue;
        ReadEntryLine(&context, start, folder, entries);
    }
    bool readFailed = ferror(file) != 0;
    fclose(file);
    if (readFailed) {
        fprintf(err, "zpack: %s: read error\n", path);
        return false;
    }
    if (context.Errors == 0 && entries->empty()) {
        fprintf(err, "zpack: %s: lists no entries (the setup program refuses an empty package)\n", path);
        return false;
    }
    return context.Errors == 0;
}
