#include "format/SzddFormat.h"

#include <new>
#include <stdio.h>
#include <string.h>

const unsigned char SzddSignature[SzddSignatureSize] = {0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33};

namespace {

const size_t InputChunk = 32768;
const size_t OutputChunk = 65536;
// A whole flag group: one flag byte and eight pairs at most, producing at most eight full pairs.
const size_t GroupInput = 1 + 8 * 2;
const size_t GroupOutput = 8 * SzddMaxMatch;

// The output goes into Out after the 4096 bytes produced before it (the ring's blanks at first),
// so a pair copies from the output itself: the ring is never kept apart.
struct Expansion {
    ByteSource Source;
    ByteSink Sink;
    SzddReport* Report;
    bool ReadFailed;
    uint64_t Fetched; // bytes read from the source so far
    SzddEndRule EndRule;
    size_t InPos;
    size_t InEnd;
    size_t OutPos;     // end of the bytes in Out; those from SzddRingSize on are not written yet
    unsigned RingBias; // Out[i] stands at ring position (RingBias + i) mod 4096
    unsigned char In[InputChunk];
    unsigned char Out[SzddRingSize + OutputChunk];
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
    x->Fetched += x->InEnd;
    return x->InEnd > 0;
}

inline bool NextByte(Expansion* x, unsigned char* value)
{
    if (x->InPos == x->InEnd && !Refill(x))
        return false;
    *value = x->In[x->InPos++];
    return true;
}

// Hands the new output to the sink and keeps the last 4096 bytes for the pairs to come.
bool Flush(Expansion* x)
{
    size_t fresh = x->OutPos - SzddRingSize;
    if (fresh > 0 && !x->Sink.Write(x->Sink.Context, x->Out + SzddRingSize, fresh))
        return false;
    x->Report->BytesOut += fresh;
    memmove(x->Out, x->Out + fresh, SzddRingSize);
    x->RingBias = static_cast<unsigned>((x->RingBias + fresh) & (SzddRingSize - 1));
    x->OutPos = SzddRingSize;
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

// Copies one pair to out, which has room for a whole group: from the ring position readAt, which
// lies 1 to 4096 bytes back, overlapping what it writes when it lies closer than the length.
inline unsigned char* CopyPair(unsigned char* out, unsigned ringAt, unsigned readAt, unsigned length)
{
    unsigned distance = (ringAt - readAt - 1) % SzddRingSize + 1;
    const unsigned char* from = out - distance;
    if (distance >= 16) {
        // The second copy may read what the first wrote, as a pair does; beyond length it writes
        // into room the group has.
        memcpy(out, from, 16);
        memcpy(out + 16, from + 16, 2);
    } else {
        for (unsigned k = 0; k < length; ++k)
            out[k] = from[k];
    }
    return out + length;
}

// Decodes whole flag groups while a group's input is at hand and its output cannot pass the end or
// the buffer: no check per item. Returns the bytes produced.
size_t DecodeGroups(Expansion* x, uint64_t left)
{
    const unsigned char* in = x->In + x->InPos;
    const unsigned char* inEnd = x->In + x->InEnd;
    unsigned char* out = x->Out + x->OutPos;
    unsigned char* outStart = out;
    unsigned char* outLimit = x->Out + sizeof x->Out - GroupOutput;
    while (static_cast<size_t>(inEnd - in) >= GroupInput && out <= outLimit &&
           static_cast<uint64_t>(out - outStart) + GroupOutput <= left) {
        unsigned flags = *in++;
        for (int item = 0; item < 8; ++item, flags >>= 1) {
            if (flags & 1) {
                *out++ = *in++;
            } else {
                unsigned readAt = in[0] | (in[1] & 0xF0u) << 4;
                unsigned length = (in[1] & 0x0Fu) + SzddMinMatch;
                in += 2;
                out = CopyPair(out, x->RingBias + static_cast<unsigned>(out - x->Out), readAt, length);
            }
        }
    }
    x->InPos = static_cast<size_t>(in - x->In);
    x->OutPos = static_cast<size_t>(out - x->Out);
    return static_cast<size_t>(out - outStart);
}

// Whether the input left (InPos on its first byte) holds one more whole item: the next of the
// current flag group, or after a group's end a flag byte and its first item. Reads to the end of
// the input at most three bytes on.
bool CompletesAnItem(Expansion* x, unsigned flags)
{
    unsigned char first = x->In[x->InPos++];
    size_t need;
    if (flags & 0x100)
        need = (flags & 1) ? 1 : 2;
    else
        need = (first & 1) ? 2 : 3;
    for (size_t have = 1; have < need; ++have) {
        unsigned char next;
        if (!NextByte(x, &next))
            return false;
    }
    return true;
}

SzddStatus Expand(Expansion* x)
{
    SzddReport* report = x->Report;
    unsigned char head[SzddHeaderSize];
    size_t got = ReadFully(x->Source, head, sizeof head, &x->ReadFailed);
    x->Fetched = got;
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
    unsigned flags = 0;
    memset(x->Out, SzddRingFill, SzddRingSize);
    x->OutPos = SzddRingSize;
    x->RingBias = SzddRingStart - SzddRingSize;
    while (produced < expected) {
        unsigned char value;
        if ((flags & 0x100) == 0) {
            produced += DecodeGroups(x, expected - produced);
            if (produced == expected)
                break;
            if (!NextByte(x, &value))
                return Flush(x) ? EndOfInput(x, produced) : Fail(report, SzddWriteFailed, "write failed");
            flags = value | 0xFF00u;
        }
        if (sizeof x->Out - x->OutPos < SzddMaxMatch && !Flush(x))
            return Fail(report, SzddWriteFailed, "write failed");
        if (flags & 1) {
            if (!NextByte(x, &value))
                return Flush(x) ? EndOfInput(x, produced) : Fail(report, SzddWriteFailed, "write failed");
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
            // Byte by byte: a pair may read what it writes itself.
            unsigned char* out = x->Out + x->OutPos;
            unsigned distance =
                (x->RingBias + static_cast<unsigned>(x->OutPos) - readAt - 1) % SzddRingSize + 1;
            const unsigned char* from = out - distance;
            for (unsigned k = 0; k < length; ++k)
                out[k] = from[k];
            x->OutPos += length;
            produced += length;
        }
        flags >>= 1;
        if (sizeof x->Out - x->OutPos < GroupOutput && !Flush(x))
            return Fail(report, SzddWriteFailed, "write failed");
    }
    if (!Flush(x))
        return Fail(report, SzddWriteFailed, "write failed");
    unsigned char extra;
    if (NextByte(x, &extra)) {
        x->InPos--; // the byte after the data is not part of it
        if (x->EndRule == SzddNoFurtherItem && !CompletesAnItem(x, flags))
            return x->ReadFailed ? Fail(report, SzddReadFailed, "read error in the compressed data") : SzddOk;
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
    return ExpandSzddEndingAs(source, sink, report, SzddNothingAfter);
}

SzddStatus ExpandSzddEndingAs(const ByteSource& source, const ByteSink& sink, SzddReport* report,
                              SzddEndRule rule)
{
    memset(report, 0, sizeof *report);
    Expansion* x = new (std::nothrow) Expansion;
    if (x == nullptr)
        return Fail(report, SzddOutOfMemory, "not enough memory to expand");
    x->Source = source;
    x->Sink = sink;
    x->Report = report;
    x->EndRule = rule;
    x->ReadFailed = false;
    x->Fetched = 0;
    x->InPos = x->InEnd = x->OutPos = 0;
    SzddStatus status = Expand(x);
    report->BytesIn = x->Fetched - (x->InEnd - x->InPos);
    delete x;
    report->Status = status;
    return status;
}
