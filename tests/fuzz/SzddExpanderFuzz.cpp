// libFuzzer target: any bytes as an SZDD stream, expanded into a bounded buffer.
#include "format/SzddFormat.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

namespace {

// Hands the input out in pieces of varying size, as files and pipes do.
struct ChoppyReader {
    const uint8_t* Data;
    size_t Size;
    size_t Position;
};

size_t ReadChoppy(void* context, unsigned char* buffer, size_t count, bool*)
{
    ChoppyReader* reader = static_cast<ChoppyReader*>(context);
    size_t left = reader->Size - reader->Position;
    size_t piece = 1 + (reader->Position * 7 + left) % 61;
    size_t take = count < left ? count : left;
    take = take < piece ? take : piece;
    memcpy(buffer, reader->Data + reader->Position, take);
    reader->Position += take;
    return take;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static unsigned char output[(1 << 18) + 64];
    memset(output + (1 << 18), 0xA5, 64);
    ChoppyReader reader = {data, size, 0};
    MemoryWriter writer = {output, 1 << 18, 0};
    SzddReport report;
    SzddStatus status = ExpandSzdd(ByteSource{ReadChoppy, &reader}, MemorySink(&writer), &report);
    for (size_t i = 0; i < 64; ++i)
        if (output[(1 << 18) + i] != 0xA5)
            __builtin_trap();
    if (report.BytesOut != writer.Size || report.BytesIn > size)
        __builtin_trap();
    if (status == SzddOk && (writer.Size != report.Header.ExpandedLength || report.BytesIn != size))
        __builtin_trap();

    // The setup program's rule for the end accepts what the strict one does, with the same output,
    // and beyond it only input too short for one more item.
    static unsigned char lenient[1 << 18];
    ChoppyReader again = {data, size, 0};
    MemoryWriter lenientWriter = {lenient, 1 << 18, 0};
    SzddReport lenientReport;
    SzddStatus lenientStatus = ExpandSzddEndingAs(ByteSource{ReadChoppy, &again}, MemorySink(&lenientWriter),
                                                  &lenientReport, SzddNoFurtherItem);
    if (status == SzddOk && lenientStatus != SzddOk)
        __builtin_trap();
    if (lenientStatus == SzddOk &&
        (lenientWriter.Size != writer.Size || memcmp(lenient, output, writer.Size) != 0))
        __builtin_trap();
    if (lenientStatus == SzddOk && status != SzddOk &&
        (status != SzddTrailingData || size - report.BytesIn > 2))
        __builtin_trap();
    return 0;
}
