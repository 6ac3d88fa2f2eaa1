#include "format/ByteStream.h"

#include <string.h>

namespace {

size_t ReadMemory(void* context, unsigned char* buffer, size_t count, bool*)
{
    MemoryReader* reader = static_cast<MemoryReader*>(context);
    size_t left = reader->Size - reader->Position;
    size_t take = count < left ? count : left;
    if (take > 0)
        memcpy(buffer, reader->Data + reader->Position, take);
    reader->Position += take;
    return take;
}

bool WriteMemory(void* context, const unsigned char* data, size_t count)
{
    MemoryWriter* writer = static_cast<MemoryWriter*>(context);
    if (count > writer->Capacity - writer->Size)
        return false;
    if (count > 0)
        memcpy(writer->Data + writer->Size, data, count);
    writer->Size += count;
    return true;
}

size_t ReadStdio(void* context, unsigned char* buffer, size_t count, bool* failed)
{
    FILE* file = static_cast<FILE*>(context);
    size_t got = fread(buffer, 1, count, file);
    if (got == 0 && ferror(file))
        *failed = true;
    return got;
}

bool WriteStdio(void* context, const unsigned char* data, size_t count)
{
    return fwrite(data, 1, count, static_cast<FILE*>(context)) == count;
}

bool WriteNowhere(void* context, const unsigned char*, size_t count)
{
    if (context != nullptr)
        *static_cast<uint64_t*>(context) += count;
    return true;
}

size_t ReadBounded(void* context, unsigned char* buffer, size_t count, bool* failed)
{
    BoundedReader* reader = static_cast<BoundedReader*>(context);
    if (reader->Remaining == 0)
        return 0;
    size_t want = reader->Remaining < count ? static_cast<size_t>(reader->Remaining) : count;
    size_t got = reader->Inner.Read(reader->Inner.Context, buffer, want, failed);
    if (got == 0)
        reader->InnerEnded = true;
    reader->Remaining -= got;
    return got;
}

} // namespace

size_t ReadFully(const ByteSource& source, unsigned char* buffer, size_t count, bool* failed)
{
    size_t total = 0;
    while (total < count) {
        size_t got = source.Read(source.Context, buffer + total, count - total, failed);
        if (got == 0)
            break;
        total += got;
    }
    return total;
}

ByteSource MemorySource(MemoryReader* reader) { return ByteSource{ReadMemory, reader}; }

ByteSink MemorySink(MemoryWriter* writer) { return ByteSink{WriteMemory, writer}; }

ByteSource FileSource(FILE* file) { return ByteSource{ReadStdio, file}; }

ByteSink FileSink(FILE* file) { return ByteSink{WriteStdio, file}; }

ByteSink CountingSink(uint64_t* count) { return ByteSink{WriteNowhere, count}; }

ByteSource BoundedSource(BoundedReader* reader) { return ByteSource{ReadBounded, reader}; }
