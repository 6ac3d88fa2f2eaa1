#include "format/SzddFormat.h"

#include <new>
#include <stdio.h>
#include <string.h>

const unsigned char SzddSignature[SzddSignatureSize] = {0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33};

namespace {

const size_t InputChunk = 32768;
const size_t OutputChunk = 32768;

struct Expansion {
    ByteSource Source;
    ByteSink Sink;
    SzddReport* Report;
    bool ReadFailed;
    size_t InPos;
    size_t InEnd;
    size_t OutPos;
    unsigned char Ring[SzddRingSize];
    unsigned char In[InputChunk];
    unsigned char Out[OutputChunk];
};

SzddStatus Fail(SzddReport* report, SzddStatus status, const char* detail)
{
    report->Status = status;
    snprintf(report->Detail, sizeof report->Detail, "%s", detail);
    return status;
}

// Slow path of NextByte: refills the input buffer. False at the end of the input or on failure.
bool Refill(Expansion* x)
{
    x->InPos = 0;
    x->InEnd = x->Source.Read(x->Source.Context, x->In, sizeof x->In, &x->ReadFailed);
    return x->InEnd > 0;
}

inline bool NextByte(Expansion* x, unsigned char* value)
{
    if (x->InPos == x->InEnd && !Refill(x))
        return false;
    *value = x->In[x->InPos++];
    x->Report->BytesIn++;
    return true;
}

bool Flush(Expansion* x)
{
    if (x->OutPos > 0 && !x->Sink.Write(x->Sink.Context, x->Out, x->OutPos))
        return false;
    x->Report->BytesOut += x->OutPos;
    x->OutPos = 0;
    return true;
}

SzddStatus EndOfInput(Expansion* x, uint64_t produced)
{
    if (x->ReadFailed)
        return Fail(x->Report, SzddReadFailed, "read error in the compressed data");
    char detail[sizeof x->Report->Detail];
    snprintf(detail, sizeof detail, "compressed data ends after %llu of %lu bytes",
             static_cast<unsigned long long>(produced),
             static_cast<unsigned long>(x->Report->Header.ExpandedLength));
    return Fail(x->Report, SzddTruncatedData, detail);
}

SzddStatus Expand(Expansion* x)
{
    SzddReport* report = x->Report;
    unsigned char head[SzddHeaderSize];
    size_t got = ReadFully(x->Source, head, sizeof head, &x->ReadFailed);
    report->BytesIn = got;
    if (x->ReadFailed)
        return Fail(report, SzddReadFailed, "read error in the header");
    size_t compared = got < SzddSignatureSize ? got : SzddSignatureSize;
    if (memcmp(head, SzddSignature, compared) != 0)
        return Fail(report, SzddBadSignature, "not SZDD data: wrong signature");
    if (got < SzddHeaderSize) {
        char detail[sizeof report->Detail];
        snprintf(detail, sizeof detail, "header cut short: %u of %u bytes", static_cast<unsigned>(got),
                 static_cast<unsigned>(SzddHeaderSize));
        return Fail(report, SzddTruncatedHeader, detail);
    }
    DecodeSzddHeader(head, &report->Header);
    if (report->Header.Mode != SzddModeA) {
        char detail[sizeof report->Detail];
        snprintf(detail, sizeof detail, "unknown compression mode 0x%02X", report->Header.Mode);
        return Fail(report, SzddUnknownMode, detail);
    }

    const uint64_t expected = report->Header.ExpandedLength;
    uint64_t produced = 0;
    unsigned writeAt = SzddRingStart;
    unsigned flags = 0;
    memset(x->Ring, SzddRingFill, sizeof x->Ring);
    while (produced < expected) {
        unsigned char value;
        if ((flags & 0x100) == 0) {
            if (!NextByte(x, &value))
                return Flush(x) ? EndOfInput(x, produced) : Fail(report, SzddWriteFailed, "write failed");
            flags = value | 0xFF00u;
        }
        if (flags & 1) {
            if (!NextByte(x, &value))
                return Flush(x) ? EndOfInput(x, produced) : Fail(report, SzddWriteFailed, "write failed");
            if (x->OutPos == sizeof x->Out && !Flush(x))
                return Fail(report, SzddWriteFailed, "write failed");
            x->Ring[writeAt] = value;
            writeAt = (writeAt + 1) & (SzddRingSize - 1);
            x->Out[x->OutPos++] = value;
            ++produced;
        } else {
            unsigned char low, high;
            if (!NextByte(x, &low) || !NextByte(x, &high))
                return Flush(x) ? EndOfInput(x, produced) : Fail(report, SzddWriteFailed, "write failed");
            unsigned readAt = low | (high & 0xF0u) << 4;
            unsigned length = (high & 0x0Fu) + SzddMinMatch;
            if (produced + length > expected) {
                if (!Flush(x))
                    return Fail(report, SzddWriteFailed, "write failed");
                char detail[sizeof report->Detail];
                snprintf(detail, sizeof detail, "compressed data gives more than the announced %lu bytes",
                         static_cast<unsigned long>(expected));
                return Fail(report, SzddExcessOutput, detail);
            }
            if (sizeof x->Out - x->OutPos < length && !Flush(x))
                return Fail(report, SzddWriteFailed, "write failed");
            // Byte by byte: a pair may read what it writes itself.
            for (unsigned k = 0; k < length; ++k) {
                value = x->Ring[readAt];
                readAt = (readAt + 1) & (SzddRingSize - 1);
                x->Ring[writeAt] = value;
                writeAt = (writeAt + 1) & (SzddRingSize - 1);
                x->Out[x->OutPos++] = value;
            }
            produced += length;
        }
        flags >>= 1;
    }
    if (!Flush(x))
        return Fail(report, SzddWriteFailed, "write failed");
    unsigned char extra;
    if (NextByte(x, &extra)) {
        report->BytesIn--;
        char detail[sizeof report->Detail];
        snprintf(detail, sizeof detail, "data continues after the announced %lu bytes",
                 static_cast<unsigned long>(expected));
        return Fail(report, SzddTrailingData, detail);
    }
    if (x->ReadFailed)
        return Fail(report, SzddReadFailed, "read error in the compressed data");
    return SzddOk;
}

} // namespace

void EncodeSzddHeader(const SzddHeader& header, unsigned char bytes[SzddHeaderSize])
{
    memcpy(bytes, SzddSignature, SzddSignatureSize);
    bytes[8] = header.Mode;
    bytes[9] = header.MissingCharacter;
    for (int i = 0; i < 4; ++i)
        bytes[10 + i] = static_cast<unsigned char>(header.ExpandedLength >> (8 * i));
}

void DecodeSzddHeader(const unsigned char bytes[SzddHeaderSize], SzddHeader* header)
{
    header->Mode = bytes[8];
    header->MissingCharacter = bytes[9];
    header->ExpandedLength = static_cast<uint32_t>(bytes[10]) | static_cast<uint32_t>(bytes[11]) << 8 |
                             static_cast<uint32_t>(bytes[12]) << 16 | static_cast<uint32_t>(bytes[13]) << 24;
}

bool StartsWithSzddSignature(const unsigned char* data, size_t count)
{
    return count >= SzddSignatureSize && memcmp(data, SzddSignature, SzddSignatureSize) == 0;
}

bool LooksCompressed(const unsigned char* data, size_t count)
{
    return count >= SzddHeaderSize && StartsWithSzddSignature(data, count);
}

SzddStatus ExpandSzdd(const ByteSource& source, const ByteSink& sink, SzddReport* report)
{
    memset(report, 0, sizeof *report);
    Expansion* x = new (std::nothrow) Expansion;
    if (x == nullptr)
        return Fail(report, SzddOutOfMemory, "not enough memory to expand");
    x->Source = source;
    x->Sink = sink;
    x->Report = report;
    x->ReadFailed = false;
    x->InPos = x->InEnd = x->OutPos = 0;
    SzddStatus status = Expand(x);
    delete x;
    report->Status = status;
    return status;
}
