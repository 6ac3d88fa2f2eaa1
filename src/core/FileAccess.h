// Unbuffered, exclusive, sequential access to one file at a time.
#pragma once

#include <windows.h>

// Creates one file (replacing any file of that name) and writes to it. Every call goes to the
// system at once. Failures throw ZorvaneException with the object's FileName.
class FileWriter {
public:
    // What becomes of the file when the writer is destroyed.
    enum Lifetime { KeepFile, DeleteWhenClosed };
    // Throws ErrUnableToOpen with the path when the system refuses to create the file. A file
    // made with DeleteWhenClosed is deleted by the system when the writer closes it, also on
    // failure: one call fewer than a delete by name, which must open the file again.
    explicit FileWriter(const char* path, Lifetime lifetime = KeepFile);
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // One system write of count bytes; throws ErrWriteError when it fails or falls short.
    void Write(const void* data, DWORD count);
    void WriteByte(char value);
    // The text's bytes (if any), then CR LF. Throws before the line end when the text fails.
    void WriteLine(const char* text);

    char FileName[MAX_PATH];

private:
    HANDLE Handle;
};

// Reads one existing file front to back, without sharing it.
class FileReader {
public:
    // Throws ErrFileNotFound when the path's attributes cannot be read, ErrUnableToOpen when
    // the system refuses to open it (a folder, a file in use, no rights).
    explicit FileReader(const char* path);
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    // Reads exactly count bytes. Throws ErrReadError when the read fails; sets AtEnd and throws
    // ErrUnexpectedEndOfFile when fewer bytes arrive (those bytes count for nothing).
    void Read(void* buffer, DWORD count);
    // Reads one line into buffer (size bytes, at least 1, terminator included). A carriage return
    // ends a line; line feeds are skipped wherever they stand; the end of the file ends the last
    // line and sets AtEnd. An over-long line loses the byte at the cut and goes on in the next
    // call. Only ErrReadError escapes; the buffer is then undefined.
    void ReadLine(char* buffer, DWORD size);
    // Clears AtEnd, moves by distance from origin (0 start, 1 current, 2 end); returns the position.
    DWORD Seek(LONG distance, DWORD origin);
    DWORD Tell() const;
    DWORD Size() const;
    bool AtEnd() const { return EndReached != 0; }

    char FileName[MAX_PATH];

private:
    char NextSignificantByte();

    int EndReached;
    HANDLE Handle;
};

// Plain functions on an open handle: they report by their result and never throw.

// True when one write put exactly count bytes.
bool WriteAll(HANDLE file, const void* data, DWORD count);
// True when one read delivered exactly count bytes (false at the end of the file too).
bool ReadAll(HANDLE file, void* buffer, DWORD count);
// Writes the text (when present and not empty), then CR LF; false at the first failed write.
bool WriteRawLine(HANDLE file, const char* text);
// Reads one line ended by CR, LF, CR LF or the end of the file into buffer (size bytes, at least
// 1); the rest of an over-long line is dropped. False, with the buffer untouched, only when not
// even the first byte could be read.
bool ReadRawLine(HANDLE file, char* buffer, DWORD size);
