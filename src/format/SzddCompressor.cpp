#include "format/SzddCompressor.h"

#include "format/SzddMatchFinder.h"

#include <new>
#include <stdio.h>
#include <string.h>

// The decoder's ring starts full of blanks, so the input is parsed as if 4096 blanks preceded it:
// a pair at distance d copies the byte d places back in that longer stream, blank or not, and the
// ring position it names is (4080 + t - d) mod 4096 for a pair at input offset t. Distances run
// from 1 to 4096 (the ring position about to be overwritten still holds the byte 4096 back).
//
// Every position has its exact longest match (at most 18 bytes); the cheapest cost of reaching
// each position then follows, since any length from 3 up to the longest is a valid pair from that
// position. Every BlockSize positions the parse is settled: the choice of path is final only where
// the cheapest paths to every position at the edge have merged; tokens up to that point are
// written, the rest is carried on, so settling costs nothing in size. The schedule counts
// positions only, so the output does not depend on how the caller hands them in.

namespace {

const uint32_t WindowSize = SzddRingSize;
const uint32_t BlockSize = 1 << 16;
// Undecided positions carried from one settling to the next at most; real data stays within a few
// hundred.
const uint32_t MaxCarry = 1 << 16;
const uint32_t ParseCapacity = MaxCarry + BlockSize + 2 * SzddMaxMatch;
const uint32_t LiteralBits = 9;
const uint32_t PairBits = 17;
const uint32_t Unreached = 0xFFFFFFFFu;
const uint32_t TokenBits = 5;
const uint32_t TokenMask = (1u << TokenBits) - 1;
static_assert((MaxCarry + BlockSize + 2 * SzddMaxMatch) * LiteralBits < (Unreached >> TokenBits),
              "cost bits");
const size_t OutputCapacity = 32768;

} // namespace

struct SzddEncoder {
    ByteSink Sink;
    SzddReport* Report;
    uint32_t Expected;
    uint32_t CarryLimit;
    uint32_t Taken;       // input offset of the next position: the parsed edge
    uint32_t SinceSettle; // positions taken since the parse was last settled
    uint32_t StepsReady;  // Step slots that hold this stream's state; those beyond are set when reached

    // Parse state for input offsets from ParseBase on, indexed by offset - ParseBase. Step holds
    // the cheapest bit count from ParseBase above TokenBits and, below, the length of the last
    // token of that cheapest path (1 for a literal), so one minimum settles both, ties going to the
    // shorter token. MatchDistance is the distance of the position's longest match, Bytes its byte.
    uint32_t ParseBase;
    uint32_t Step[ParseCapacity];
    uint16_t MatchDistance[ParseCapacity];
    unsigned char Bytes[ParseCapacity];
    unsigned char Tokens[ParseCapacity];

    // Output: whole flag groups are handed to the sink.
    size_t OutSize;
    size_t FlagAt;
    unsigned GroupItems;
    unsigned char Out[OutputCapacity];
};

namespace {

bool Fail(SzddReport* report, SzddStatus status, const char* detail)
{
    report->Status = status;
    snprintf(report->Detail, sizeof report->Detail, "%s", detail);
    return false;
}

bool FlushOutput(SzddEncoder* e)
{
    if (e->OutSize > 0 && !e->Sink.Write(e->Sink.Context, e->Out, e->OutSize))
        return false;
    e->Report->BytesOut += e->OutSize;
    e->OutSize = 0;
    return true;
}

// Makes room for one item, opening a new flag group when the current one is full.
bool BeginItem(SzddEncoder* e)
{
    if (e->GroupItems == 8) {
        if (OutputCapacity - e->OutSize < 1 + 8 * 2 && !FlushOutput(e))
            return false;
        e->FlagAt = e->OutSize;
        e->Out[e->OutSize++] = 0;
        e->GroupItems = 0;
    }
    return true;
}

bool PutLiteral(SzddEncoder* e, unsigned char value)
{
    if (!BeginItem(e))
        return false;
    e->Out[e->FlagAt] |= static_cast<unsigned char>(1u << e->GroupItems);
    e->Out[e->OutSize++] = value;
    e->GroupItems++;
    return true;
}

// A pair at input offset offset, copying length bytes from distance back.
bool PutPair(SzddEncoder* e, uint32_t offset, uint32_t distance, uint32_t length)
{
    if (!BeginItem(e))
        return false;
    uint32_t ringPosition = (SzddRingStart + offset - distance) & (SzddRingSize - 1);
    e->Out[e->OutSize++] = static_cast<unsigned char>(ringPosition);
    e->Out[e->OutSize++] = static_cast<unsigned char>((ringPosition >> 4 & 0xF0) | (length - SzddMinMatch));
    e->GroupItems++;
    return true;
}

// Writes the tokens of the cheapest path from ParseBase to input offset upTo.
bool EmitPath(SzddEncoder* e, uint32_t upTo)
{
    uint32_t count = 0;
    for (uint32_t i = upTo - e->ParseBase; i > 0; i -= e->Tokens[count++])
        e->Tokens[count] = static_cast<unsigned char>(e->Step[i] & TokenMask);
    uint32_t offset = e->ParseBase;
    while (count > 0) {
        uint32_t length = e->Tokens[--count];
        uint32_t i = offset - e->ParseBase;
        bool written =
            length == 1 ? PutLiteral(e, e->Bytes[i]) : PutPair(e, offset, e->MatchDistance[i], length);
        if (!written)
            return false;
        offset += length;
    }
    return true;
}

// The furthest position that every cheapest path to the parsed edge passes through. Any parse of
// the whole input reaches one of the last SzddMaxMatch positions up to the edge, so the path up to
// this position is part of a cheapest parse of the whole input. The cheapest paths form a tree
// rooted at ParseBase (each position points back to the start of its last token): the position
// wanted is the last common one of the paths from those positions, found by stepping back
// whichever of two paths is further ahead until they meet.
uint32_t FindSettledPosition(SzddEncoder* e, bool* forced)
{
    uint32_t edge = e->Taken - e->ParseBase;
    uint32_t settled = edge;
    uint32_t first = edge > SzddMaxMatch - 1 ? edge - (SzddMaxMatch - 1) : 0;
    for (uint32_t start = first; start < edge; ++start) {
        uint32_t other = start;
        while (settled != other) {
            if (settled > other) {
                settled -= e->Step[settled] & TokenMask;
            } else {
                other -= e->Step[other] & TokenMask;
            }
            if (edge - (settled > other ? settled : other) > e->CarryLimit) {
                // The paths have not merged for a very long stretch (never seen on real data):
                // settle on the path to the edge, giving up at most a few bits.
                *forced = true;
                return e->ParseBase + edge;
            }
        }
    }
    return e->ParseBase + settled;
}

// Makes `settled` the new ParseBase: moves the undecided positions to the front of the arrays.
// Positions beyond the edge were reached only from the last SzddMaxMatch positions, which all lie
// at or after a merged `settled`; after a forced settle they start afresh from it.
void AdvanceParseBase(SzddEncoder* e, uint32_t settled, bool forced)
{
    uint32_t shift = settled - e->ParseBase;
    if (shift == 0)
        return;
    // Slots past the edge's longest reach are still unreached.
    uint32_t used = e->Taken - e->ParseBase + SzddMaxMatch + 1;
    uint32_t keep = used - shift;
    uint32_t baseCost = e->Step[shift] >> TokenBits;
    for (uint32_t i = 0; i < keep; ++i) {
        // Positions off every path through `settled` may cost less; they are never read again.
        uint32_t step = e->Step[i + shift];
        uint32_t cost = step >> TokenBits;
        e->Step[i] = step == Unreached
                         ? Unreached
                         : (cost > baseCost ? cost - baseCost : 0) << TokenBits | (step & TokenMask);
    }
    memmove(e->MatchDistance, e->MatchDistance + shift, keep * sizeof e->MatchDistance[0]);
    memmove(e->Bytes, e->Bytes + shift, keep);
    for (uint32_t i = forced ? 1 : keep; i < used; ++i)
        e->Step[i] = Unreached;
    e->StepsReady = used;
    e->ParseBase = settled;
}

// Readies the Step slots that position index i offers to: a short stream touches only the memory
// it needs, and a new stream need not reset what the last one left.
inline void ReadySteps(SzddEncoder* e, uint32_t i)
{
    if (i + SzddMaxMatch + 1 <= e->StepsReady)
        return;
    uint32_t end = i + SzddMaxMatch + 1 + 4096;
    if (end > ParseCapacity)
        end = ParseCapacity;
    for (uint32_t k = e->StepsReady; k < end; ++k)
        e->Step[k] = Unreached;
    e->StepsReady = end;
}

bool Settle(SzddEncoder* e)
{
    bool forced = false;
    uint32_t settled = FindSettledPosition(e, &forced);
    if (!EmitPath(e, settled))
        return false;
    AdvanceParseBase(e, settled, forced);
    e->SinceSettle = 0;
    return true;
}

} // namespace

SzddEncoder* CreateSzddEncoder()
{
    SzddEncoder* e = new (std::nothrow) SzddEncoder;
    if (e == nullptr)
        return nullptr;
    e->CarryLimit = MaxCarry;
    e->StepsReady = 0;
    return e;
}

void DestroySzddEncoder(SzddEncoder* encoder) { delete encoder; }

void SetSzddCarryLimit(SzddEncoder* encoder, uint32_t carryLimit)
{
    encoder->CarryLimit = carryLimit < MaxCarry ? carryLimit : MaxCarry;
}

bool BeginSzddEncoding(SzddEncoder* e, const ByteSink& sink, uint32_t expandedLength,
                       unsigned char missingCharacter, SzddReport* report)
{
    memset(report, 0, sizeof *report);
    report->Header.Mode = SzddModeA;
    report->Header.MissingCharacter = missingCharacter;
    report->Header.ExpandedLength = expandedLength;
    e->Sink = sink;
    e->Report = report;
    e->Expected = expandedLength;
    e->Taken = 0;
    e->SinceSettle = 0;
    e->ParseBase = 0;
    e->Step[0] = 0;
    e->StepsReady = 1;
    e->OutSize = 0;
    e->FlagAt = 0;
    e->GroupItems = 8;

    unsigned char head[SzddHeaderSize];
    EncodeSzddHeader(report->Header, head);
    if (!sink.Write(sink.Context, head, sizeof head))
        return Fail(report, SzddWriteFailed, "write failed");
    report->BytesOut = sizeof head;
    return true;
}

bool EncodeSzddPositions(SzddEncoder* e, const unsigned char* bytes, const uint8_t* lengths,
                         const uint16_t* distances, uint32_t count)
{
    for (uint32_t k = 0; k < count; ++k) {
        uint32_t i = e->Taken - e->ParseBase;
        ReadySteps(e, i);
        e->Bytes[i] = bytes[k];
        e->MatchDistance[i] = distances[k];
        uint32_t* steps = e->Step + i;
        uint32_t cost = steps[0] >> TokenBits;
        uint32_t literal = (cost + LiteralBits) << TokenBits | 1;
        if (literal < steps[1])
            steps[1] = literal;
        uint32_t longest = lengths[k];
        if (longest != 0) {
            // Every length from 3 up to the longest match is a pair this position offers.
            uint32_t pair = (cost + PairBits) << TokenBits;
            for (uint32_t length = SzddMinMatch; length <= longest; ++length) {
                uint32_t offered = pair | length;
                steps[length] = offered < steps[length] ? offered : steps[length];
            }
        }
        e->Taken++;
        if (++e->SinceSettle == BlockSize && !Settle(e))
            return Fail(e->Report, SzddWriteFailed, "write failed");
    }
    return true;
}

bool FinishSzddEncoding(SzddEncoder* e)
{
    if (e->Taken != e->Expected)
        return Fail(e->Report, SzddLengthMismatch, "the encoder was not given the announced length");
    if (!EmitPath(e, e->Taken) || !FlushOutput(e))
        return Fail(e->Report, SzddWriteFailed, "write failed");
    return true;
}

namespace {

// CompressSzdd's input side: the stream's bytes, the last WindowSize before the next position to
// search and, after it, at least SzddMaxMatch more until the input ends.
const uint32_t DataCapacity = WindowSize + BlockSize + SzddMaxMatch;

struct InputStream {
    ByteSource Source;
    SzddReport* Report;
    uint32_t Expected;
    uint64_t Consumed; // input bytes read so far
    bool SourceEnded;
    bool ReadFailed;
    uint32_t End; // bytes in Data
    uint8_t Lengths[BlockSize];
    uint16_t Distances[BlockSize];
    unsigned char Data[DataCapacity + SzddMatchSlack];
};

// Reads input until the data buffer is full or the input has ended.
bool FillData(InputStream* s)
{
    while (!s->SourceEnded && s->End < DataCapacity) {
        uint64_t owed = s->Expected - s->Consumed;
        size_t room = DataCapacity - s->End;
        if (owed == 0) {
            // Everything announced has arrived; one more byte would be too many.
            unsigned char probe;
            if (s->Source.Read(s->Source.Context, &probe, 1, &s->ReadFailed) != 0) {
                char detail[sizeof s->Report->Detail];
                snprintf(detail, sizeof detail, "the input is longer than the announced %lu bytes",
                         static_cast<unsigned long>(s->Expected));
                return Fail(s->Report, SzddLengthMismatch, detail);
            }
            s->SourceEnded = true;
            break;
        }
        size_t want = owed < room ? static_cast<size_t>(owed) : room;
        size_t got = s->Source.Read(s->Source.Context, s->Data + s->End, want, &s->ReadFailed);
        if (got == 0) {
            if (s->ReadFailed)
                return Fail(s->Report, SzddReadFailed, "read error in the input");
            char detail[sizeof s->Report->Detail];
            snprintf(detail, sizeof detail, "the input ends after %llu of the announced %lu bytes",
                     static_cast<unsigned long long>(s->Consumed), static_cast<unsigned long>(s->Expected));
            return Fail(s->Report, SzddLengthMismatch, detail);
        }
        s->Consumed += got;
        s->Report->BytesIn = s->Consumed;
        s->End += static_cast<uint32_t>(got);
    }
    return true;
}

bool Compress(InputStream* s, SzddMatchFinder* finder, SzddEncoder* encoder)
{
    // The ring's starting blanks are positions of the stream too.
    memset(s->Data, SzddRingFill, WindowSize);
    s->End = WindowSize;
    if (!FillData(s))
        return false;
    FindSzddMatches(finder, s->Data, WindowSize, s->End, nullptr, nullptr);
    for (;;) {
        uint32_t pending = s->End - WindowSize;
        uint32_t count = s->SourceEnded ? pending : pending - SzddMaxMatch;
        for (uint32_t done = 0; done < count;) {
            uint32_t batch = count - done < 4096 ? count - done : 4096;
            FindSzddMatches(finder, s->Data + WindowSize + done, batch, pending - done, s->Lengths,
                            s->Distances);
            if (!EncodeSzddPositions(encoder, s->Data + WindowSize + done, s->Lengths, s->Distances, batch))
                return false;
            done += batch;
        }
        if (s->SourceEnded)
            return FinishSzddEncoding(encoder);
        memmove(s->Data, s->Data + count, s->End - count);
        s->End -= count;
        if (!FillData(s))
            return false;
    }
}

} // namespace

SzddStatus CompressSzdd(const ByteSource& source, const ByteSink& sink, uint32_t expandedLength,
                        unsigned char missingCharacter, SzddReport* report)
{
    SzddCompressorLimits limits = {0x80000000u, MaxCarry};
    return CompressSzddWithLimits(source, sink, expandedLength, missingCharacter, report, limits);
}

SzddStatus CompressSzddWithLimits(const ByteSource& source, const ByteSink& sink, uint32_t expandedLength,
                                  unsigned char missingCharacter, SzddReport* report,
                                  const SzddCompressorLimits& limits)
{
    SzddMatchFinder* finder = CreateSzddMatchFinder();
    SzddEncoder* encoder = CreateSzddEncoder();
    InputStream* s = new (std::nothrow) InputStream;
    if (finder == nullptr || encoder == nullptr || s == nullptr) {
        DestroySzddMatchFinder(finder);
        DestroySzddEncoder(encoder);
        delete s;
        memset(report, 0, sizeof *report);
        Fail(report, SzddOutOfMemory, "not enough memory to compress");
        return SzddOutOfMemory;
    }
    SetSzddMatchRenormalizing(finder, limits.RenormalizeAt);
    SetSzddCarryLimit(encoder, limits.CarryLimit);
    memset(s, 0, sizeof *s);
    s->Source = source;
    s->Report = report;
    s->Expected = expandedLength;
    if (BeginSzddEncoding(encoder, sink, expandedLength, missingCharacter, report))
        Compress(s, finder, encoder);
    else
        report->Status = SzddWriteFailed;
    DestroySzddMatchFinder(finder);
    DestroySzddEncoder(encoder);
    delete s;
    return report->Status;
}
