// Byte sources and sinks through which the SZDD codec and the package walker stream their data,
// so that neither ever holds a whole file. Plain structs of a function and its context; the
// context belongs to the caller and must outlive every call.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

// Pull side. Read places up to count bytes in buffer and returns how many; 0 means the end of the
// data, or a read failure when it also sets *failed (which it never clears).
struct ByteSource {
    size_t (*Read)(void* context, unsigned char* buffer, size_t count, bool* failed);
    void* Context;
};

// Push side. Write takes all count bytes and returns true, or returns false; the caller then stops.
struct ByteSink {
    bool (*Write)(void* context, const unsigned char* data, size_t count);
    void* Context;
};

// Reads until count bytes arrived or the source ended; returns how many arrived.
size_t ReadFully(const ByteSource& source, unsigned char* buffer, size_t count, bool* failed);

// A block of memory read front to back; Position counts the bytes handed out.
struct MemoryReader {
    const unsigned char* Data;
    size_t Size;
    size_t Position;
};
ByteSource MemorySource(MemoryReader* reader);

// A fixed buffer filled front to back; a write that does not fit is refused whole.
struct MemoryWriter {
    unsigned char* Data;
    size_t Capacity;
    size_t Size;
};
ByteSink MemorySink(MemoryWriter* writer);

// stdio streams opened in binary mode; a failed fread sets *failed through ferror.
ByteSource FileSource(FILE* file);
ByteSink FileSink(FILE* file);

// Accepts and drops everything; counts the bytes in *count when count is not null.
ByteSink CountingSink(uint64_t* count);

// Hands out at most Remaining bytes of Inner, for one entry inside a package. InnerEnded is set
// when Inner ended (or failed) while bytes were still owed.
struct BoundedReader {
    ByteSource Inner;
    uint64_t Remaining;
    bool InnerEnded;
};
ByteSource BoundedSource(BoundedReader* reader);
