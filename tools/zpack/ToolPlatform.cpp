#include "ToolPlatform.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

bool IsSeparatorCharacter(char c)
{
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

FILE* OpenForReading(const char* path) { return fopen(path, "rb"); }

bool RemoveFileAt(const char* path) { return remove(path) == 0; }

#ifdef _WIN32

PathKind InspectPath(const char* path, uint64_t* size)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return PathMissing;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return PathFolder;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE)
        return PathOtherKind;
    if (size != nullptr)
        *size = static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    return PathRegularFile;
}

FILE* CreateNewFile(const char* path)
{
    int descriptor = _open(path, _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (descriptor < 0)
        return nullptr;
    FILE* file = _fdopen(descriptor, "wb");
    if (file == nullptr)
        _close(descriptor);
    return file;
}

bool MoveIntoPlace(const char* from, const char* to)
{
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
}

bool MakeFolder(const char* path) { return CreateDirectoryA(path, nullptr) != 0; }

bool RemoveEmptyFolder(const char* path) { return RemoveDirectoryA(path) != 0; }

bool SeekTo(FILE* file, uint64_t position)
{
    return _fseeki64(file, static_cast<__int64>(position), SEEK_SET) == 0;
}

bool TruncateOpenFile(FILE* file, uint64_t size)
{
    if (fflush(file) != 0)
        return false;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(size);
    return handle != INVALID_HANDLE_VALUE && SetFilePointerEx(handle, distance, nullptr, FILE_BEGIN) &&
           SetEndOfFile(handle) && SeekTo(file, size);
}

bool IsTerminal(FILE* stream) { return _isatty(_fileno(stream)) != 0; }

unsigned long CurrentProcessId() { return GetCurrentProcessId(); }

#else

PathKind InspectPath(const char* path, uint64_t* size)
{
    struct stat status;
    if (stat(path, &status) != 0)
        return PathMissing;
    if (S_ISDIR(status.st_mode))
        return PathFolder;
    if (!S_ISREG(status.st_mode))
        return PathOtherKind;
    if (size != nullptr)
        *size = static_cast<uint64_t>(status.st_size);
    return PathRegularFile;
}

FILE* CreateNewFile(const char* path)
{
    int descriptor = open(path, O_CREAT | O_EXCL | O_WRONLY, 0644);
    if (descriptor < 0)
        return nullptr;
    FILE* file = fdopen(descriptor, "wb");
    if (file == nullptr)
        close(descriptor);
    return file;
}

bool MoveIntoPlace(const char* from, const char* to) { return rename(from, to) == 0; }

bool MakeFolder(const char* path) { return mkdir(path, 0755) == 0; }

bool RemoveEmptyFolder(const char* path) { return rmdir(path) == 0; }

bool SeekTo(FILE* file, uint64_t position)
{
    return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
}

bool TruncateOpenFile(FILE* file, uint64_t size)
{
    return fflush(file) == 0 && ftruncate(fileno(file), static_cast<off_t>(size)) == 0 && SeekTo(file, size);
}

bool IsTerminal(FILE* stream) { return isatty(fileno(stream)) != 0; }

unsigned long CurrentProcessId() { return static_cast<unsigned long>(getpid()); }

#endif
