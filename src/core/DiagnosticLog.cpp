#include "core/DiagnosticLog.h"

#include "core/PathUtilities.h"

#include <stdio.h>
#include <string.h>

namespace {

const int LineTextSize = 2048;
// Every ANSI byte becomes at most three UTF-8 bytes.
const int LineUtf8Size = 3 * LineTextSize;
const DWORD BacklogSize = 16 * 1024;

HANDLE LogFile = INVALID_HANDLE_VALUE;
char Backlog[BacklogSize];
DWORD BacklogUsed;

// Writes as much of the backlog as the system takes and keeps the rest.
void FlushBacklog()
{
    DWORD written = 0;
    if (BacklogUsed == 0 || !WriteFile(LogFile, Backlog, BacklogUsed, &written, nullptr))
        written = 0;
    memmove(Backlog, Backlog + written, BacklogUsed - written);
    BacklogUsed -= written;
}

void AppendToBacklog(const char* bytes, DWORD count)
{
    // A line that no longer fits is lost rather than cut: a log with a half line misleads.
    if (count > BacklogSize - BacklogUsed)
        return;
    memcpy(Backlog + BacklogUsed, bytes, count);
    BacklogUsed += count;
}

} // namespace

namespace {

HANDLE OpenForAppending(const char* path)
{
    // Append access only: every write lands at the end, also when another run appends meanwhile.
    return CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Creates the folders of path's folder that are missing. False when none could be made.
bool CreateLogFolder(const char* path)
{
    char full[MAX_PATH];
    char* name = nullptr;
    DWORD length = GetFullPathNameA(path, sizeof full, full, &name);
    if (length == 0 || length >= sizeof full || name == nullptr || name == full)
        return false;
    name[-1] = '\0';
    return CreateFolderChain(full);
}

} // namespace

bool OpenDiagnosticLog(const char* path)
{
    CloseDiagnosticLog();
    LogFile = OpenForAppending(path);
    // Deployment scripts name a log folder per product and expect the installer to make it.
    if (LogFile == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PATH_NOT_FOUND && CreateLogFolder(path))
        LogFile = OpenForAppending(path);
    return LogFile != INVALID_HANDLE_VALUE;
}

void CloseDiagnosticLog()
{
    if (LogFile == INVALID_HANDLE_VALUE)
        return;
    FlushBacklog();
    CloseHandle(LogFile);
    LogFile = INVALID_HANDLE_VALUE;
    BacklogUsed = 0;
}

int AnsiToUtf8(const char* text, char* utf8, int size)
{
    wchar_t wide[LineTextSize];
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, wide, LineTextSize);
    if (length == 0) {
        // Longer than the buffer: the part that fits, whole characters only.
        length = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(strnlen(text, LineTextSize - 1)), wide,
                                     LineTextSize - 1);
        wide[length] = L'\0';
    }
    // Shorten by whole characters until the UTF-8 form fits; most texts fit at once.
    int characters = static_cast<int>(wcslen(wide));
    for (; characters > 0; --characters) {
        int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, characters, utf8, size - 1, nullptr, nullptr);
        if (bytes > 0) {
            utf8[bytes] = '\0';
            return bytes;
        }
    }
    utf8[0] = '\0';
    return 0;
}

void WriteLogLine(const char* step, const char* outcome)
{
    if (LogFile == INVALID_HANDLE_VALUE)
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[32];
    snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
             now.wMinute, now.wSecond);

    // Message boxes break lines at a carriage return; the log continues them on indented lines.
    char text[LineTextSize];
    snprintf(text, sizeof text, "%s  %s: ", stamp, step);
    size_t used = strlen(text);
    // The system's texts end in a line break of their own, which would only make an empty line.
    const char* end = outcome + strnlen(outcome, sizeof text);
    while (end > outcome && (end[-1] == '\r' || end[-1] == '\n' || end[-1] == ' '))
        --end;
    for (const char* at = outcome; at < end && used + 32 < sizeof text; ++at) {
        if (*at == '\n')
            continue;
        if (*at == '\r') {
            used += snprintf(text + used, sizeof text - used, "\r\n%s      ", stamp);
            continue;
        }
        text[used++] = *at;
    }
    text[used] = '\0';

    char utf8[LineUtf8Size + 2];
    int bytes = AnsiToUtf8(text, utf8, LineUtf8Size);
    utf8[bytes++] = '\r';
    utf8[bytes++] = '\n';
    AppendToBacklog(utf8, static_cast<DWORD>(bytes));
    FlushBacklog();
}

void WriteCountLine(const char* step, int count, const char* what)
{
    if (count == 0)
        return;
    char text[96];
    snprintf(text, sizeof text, "%d %s", count, what);
    WriteLogLine(step, text);
}
