#include "core/FileAccess.h"

#include "core/ZorvaneException.h"

namespace {
const char LineEnd[2] = {'\r', '\n'};
}

FileWriter::FileWriter(const char* path, Lifetime lifetime)
{
    DWORD flags = FILE_ATTRIBUTE_NORMAL | (lifetime == DeleteWhenClosed ? FILE_FLAG_DELETE_ON_CLOSE : 0);
    Handle = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, flags, nullptr);
    if (Handle == INVALID_HANDLE_VALUE)
        throw ZorvaneException(ErrUnableToOpen, path);
    lstrcpynA(FileName, path, sizeof FileName);
}

FileWriter::~FileWriter()
{
    if (Handle != INVALID_HANDLE_VALUE)
        CloseHandle(Handle);
}

void FileWriter::Write(const void* data, DWORD count)
{
    if (count == 0)
        return;
    if (!WriteAll(Handle, data, count))
        throw ZorvaneException(ErrWriteError, FileName);
}

void FileWriter::WriteByte(char value) { Write(&value, 1); }

void FileWriter::WriteLine(const char* text)
{
    if (text[0] != '\0')
        Write(text, lstrlenA(text));
    Write(LineEnd, sizeof LineEnd);
}

FileReader::FileReader(const char* path)
{
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        throw ZorvaneException(ErrFileNotFound, path);
    Handle = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (Handle == INVALID_HANDLE_VALUE)
        throw ZorvaneException(ErrUnableToOpen, path);
    lstrcpynA(FileName, path, sizeof FileName);
    EndReached = 0;
}

FileReader::~FileReader()
{
    if (Handle != INVALID_HANDLE_VALUE)
        CloseHandle(Handle);
}

void FileReader::Read(void* buffer, DWORD count)
{
    if (count == 0)
        return;
    DWORD got = 0;
    if (!ReadFile(Handle, buffer, count, &got, nullptr))
        throw ZorvaneException(ErrReadError, FileName);
    if (got < count) {
        EndReached = 1;
        throw ZorvaneException(ErrUnexpectedEndOfFile, FileName);
    }
}

char FileReader::NextSignificantByte()
{
    char value;
    do
        Read(&value, 1);
    while (value == '\n');
    return value;
}

void FileReader::ReadLine(char* buffer, DWORD size)
{
    if (size == 0)
        return;
    DWORD count = 0;
    try {
        for (;;) {
            char value = NextSignificantByte();
            if (value == '\r') {
                // The byte after the line feeds starts the next line.
                NextSignificantByte();
                Seek(-1, FILE_CURRENT);
                break;
            }
            if (count >= size - 1)
                break;
            buffer[count++] = value;
        }
    } catch (const ZorvaneException& error) {
        if (error.ErrorCode != ErrUnexpectedEndOfFile)
            throw;
    }
    buffer[count] = '\0';
}

DWORD FileReader::Seek(LONG distance, DWORD origin)
{
    EndReached = 0;
    return SetFilePointer(Handle, distance, nullptr, origin);
}

DWORD FileReader::Tell() const { return SetFilePointer(Handle, 0, nullptr, FILE_CURRENT); }

DWORD FileReader::Size() const { return GetFileSize(Handle, nullptr); }

bool WriteAll(HANDLE file, const void* data, DWORD count)
{
    DWORD written = 0;
    return WriteFile(file, data, count, &written, nullptr) && written == count;
}

bool ReadAll(HANDLE file, void* buffer, DWORD count)
{
    DWORD got = 0;
    return ReadFile(file, buffer, count, &got, nullptr) && got == count;
}

bool WriteRawLine(HANDLE file, const char* text)
{
    if (text != nullptr && text[0] != '\0' && !WriteAll(file, text, lstrlenA(text)))
        return false;
    return WriteAll(file, LineEnd, sizeof LineEnd);
}

bool ReadRawLine(HANDLE file, char* buffer, DWORD size)
{
    char value;
    if (size == 0 || !ReadAll(file, &value, 1))
        return false;
    DWORD count = 0;
    for (;;) {
        if (value == '\r' || value == '\n')
            break;
        if (count < size - 1)
            buffer[count++] = value;
        if (!ReadAll(file, &value, 1)) {
            value = '\0';
            break;
        }
    }
    buffer[count] = '\0';
    if (value == '\r') {
        char next;
        if (ReadAll(file, &next, 1) && next != '\n')
            SetFilePointer(file, -1, nullptr, FILE_CURRENT);
    }
    return true;
}
