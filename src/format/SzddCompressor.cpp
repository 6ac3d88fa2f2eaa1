#include "format/SzddCompressor.h"

#include <new>
#include <stdio.h>
#include <string.h>

// The decoder's ring starts full of blanks, so the input is parsed as if 4096 blanks preceded it:
// a pair at distance d copies the byte d places back in that longer stream, blank or not, and the
// ring position it names is (4080 + t - d) mod 4096 for a pair at input offset t. Distances run
// from 1 to 4096 (the ring position about to be overwritten still holds the byte 4096 back).
//
// Work proceeds in blocks. Every position gets its exact longest match (at most 18 bytes); the
// cheapest cost of reaching each position then follows, since any length from 3 up to the
// longest is a valid pair from that position. The choice of path is final only where the cheapest
// paths to every position at the block's edge have merged: tokens up to that point are written,
// the rest is carried into the next block, so block edges cost nothing in size.

namespace {

const uint32_t WindowSize = SzddRingSize;
const uint32_t TreeSize = 2 * WindowSize; // cyclic link arrays; a power of two above WindowSize
const uint32_t TreeMask = TreeSize - 1;
const uint32_t HashBits = 16;
const uint32_t TreePrefix = 6;                         // bytes that select a tree
const uint32_t ChainCount = TreePrefix - SzddMinMatch; // one hash chain per shorter prefix length
const uint32_t BlockSize = 1 << 16;
// Undecided positions carried between blocks at most; real data stays within a few hundred.
const uint32_t MaxCarry = 1 << 16;
const uint32_t DataCapacity = MaxCarry + WindowSize + BlockSize + 2 * SzddMaxMatch;
const uint32_t DataSlack = 16; // room for the word-wise compares to read past the last byte
const uint32_t ParseCapacity = MaxCarry + BlockSize + 2 * SzddMaxMatch;
// Absolute positions start above TreeSize, so the empty link 0 is always out of reach.
const uint32_t PositionBase = TreeSize;
// The first input byte's absolute position; renormalizing shifts by multiples of TreeSize, so
// input offset and absolute position stay congruent modulo the ring size.
const uint32_t FirstInputPosition = PositionBase + WindowSize;
static_assert(FirstInputPosition % SzddRingSize == 0 && TreeSize % SzddRingSize == 0, "ring congruence");
const uint32_t LiteralBits = 9;
const uint32_t PairBits = 17;
const uint32_t Unreached = 0xFFFFFFFFu;
const uint32_t TokenBits = 5;
const uint32_t TokenMask = (1u << TokenBits) - 1;
static_assert((MaxCarry + BlockSize + 2 * SzddMaxMatch) * LiteralBits < (Unreached >> TokenBits),
              "cost bits");
const size_t OutputCapacity = 32768;

inline bool IsLittleEndian()
{
    const uint16_t probe = 1;
    unsigned char first;
    memcpy(&first, &probe, 1);
    return first == 1;
}

struct Compressor {
    ByteSource Source;
    ByteSink Sink;
    SzddReport* Report;
    uint32_t Expected;
    uint64_t Consumed; // input bytes read so far
    bool SourceEnded;
    bool ReadFailed;

    // The stream (4096 blanks, then the input) from absolute position DataBase to DataEnd.
    uint32_t DataBase;
    uint32_t DataEnd;
    uint32_t InputStart; // absolute position of the first input byte; 0 once renormalized past it
    uint32_t RenormalizeAt;
    uint32_t CarryLimit;

    // Match finder over the last WindowSize positions. Matches of TreePrefix bytes and more come
    // from binary trees, one per hash of the first TreePrefix bytes, which keeps each tree small:
    // the search through them is most of the work. Shorter lengths come from hash chains of 3-,
    // 4- and 5-byte prefixes, walked (only when the tree found nothing that long) to the newest
    // position whose prefix really is equal.
    uint32_t NextInsert;
    uint32_t TreeHead[1u << HashBits];
    uint32_t Son[2 * TreeSize];
    uint32_t ChainHead[ChainCount][1u << HashBits];
    uint32_t Chain[ChainCount][TreeSize];

    // Parse state for absolute positions from ParseBase on, indexed by position - ParseBase.
    // Step holds the cheapest bit count from ParseBase above TokenBits and, below, the length of
    // the last token of that cheapest path (1 for a literal), so one minimum settles both, ties
    // going to the shorter token. MatchDistance is the distance of the position's longest match.
    uint32_t ParseBase;
    uint32_t Step[ParseCapacity];
    uint16_t MatchDistance[ParseCapacity];
    unsigned char Mark[ParseCapacity];
    unsigned char Tokens[ParseCapacity];

    // Output: whole flag groups are handed to the sink.
    size_t OutSize;
    size_t FlagAt;
    unsigned GroupItems;
    unsigned char Out[OutputCapacity];

    unsigned char Data[DataCapacity + DataSlack];
};

SzddStatus Fail(Compressor* c, SzddStatus status, const char* detail)
{
    c->Report->Status = status;
    snprintf(c->Report->Detail, sizeof c->Report->Detail, "%s", detail);
    return status;
}

bool FlushOutput(Compressor* c)
{
    if (c->OutSize > 0 && !c->Sink.Write(c->Sink.Context, c->Out, c->OutSize))
        return false;
    c->Report->BytesOut += c->OutSize;
    c->OutSize = 0;
    return true;
}

// Makes room for one item, opening a new flag group when the current one is full.
bool BeginItem(Compressor* c)
{
    if (c->GroupItems == 8) {
        if (OutputCapacity - c->OutSize < 1 + 8 * 2 && !FlushOutput(c))
            return false;
        c->FlagAt = c->OutSize;
        c->Out[c->OutSize++] = 0;
        c->GroupItems = 0;
    }
    return true;
}

bool PutLiteral(Compressor* c, unsigned char value)
{
    if (!BeginItem(c))
        return false;
    c->Out[c->FlagAt] |= static_cast<unsigned char>(1u << c->GroupItems);
    c->Out[c->OutSize++] = value;
    c->GroupItems++;
    return true;
}

// A pair at absolute position pos, copying length bytes from distance back. Input offset t lies
// at an absolute position congruent to t modulo the ring size, so the ring position follows
// from pos directly.
bool PutPair(Compressor* c, uint32_t pos, uint32_t distance, uint32_t length)
{
    if (!BeginItem(c))
        return false;
    uint32_t ringPosition = (SzddRingStart + pos - distance) & (SzddRingSize - 1);
    c->Out[c->OutSize++] = static_cast<unsigned char>(ringPosition);
    c->Out[c->OutSize++] = static_cast<unsigned char>((ringPosition >> 4 & 0xF0) | (length - SzddMinMatch));
    c->GroupItems++;
    return true;
}

inline uint64_t Load64(const unsigned char* p)
{
    uint64_t value;
    memcpy(&value, p, sizeof value);
    return value;
}

// How far a and b agree, from `length` (known equal before it) up to limit. Compares eight bytes
// at a time; the data buffer has slack after its end, so the last load stays inside it.
inline uint32_t MatchLength(const unsigned char* a, const unsigned char* b, uint32_t length, uint32_t limit)
{
    while (length < limit) {
        uint64_t difference = Load64(a + length) ^ Load64(b + length);
        if (difference != 0) {
            // The lowest differing byte comes first on a little-endian machine; elsewhere count
            // byte by byte.
            uint32_t same = 0;
            if (IsLittleEndian())
                same = static_cast<uint32_t>(__builtin_ctzll(difference)) >> 3;
            else
                while (a[length + same] == b[length + same])
                    ++same;
            length += same;
            return length < limit ? length : limit;
        }
        length += 8;
    }
    return limit;
}

inline uint32_t HashKey(uint64_t key)
{
    return static_cast<uint32_t>((key * 0x9E3779B97F4A7C15ull) >> (64 - HashBits));
}

// The first size bytes (at most 8) at p as a number, lowest address in the lowest byte. The
// buffer's slack lets the whole-word load read past the last byte.
inline uint64_t Prefix(const unsigned char* p, uint32_t size)
{
    uint64_t mask = ~0ull >> (64 - 8 * size);
    if (IsLittleEndian())
        return Load64(p) & mask;
    uint64_t key = 0;
    for (uint32_t i = 0; i < size; ++i)
        key |= static_cast<uint64_t>(p[i]) << (8 * i);
    return key;
}

// Puts pos at the front of its chain and returns the previous front.
inline uint32_t PushChain(uint32_t* head, uint32_t* chain, uint32_t pos)
{
    uint32_t previous = *head;
    *head = pos;
    chain[pos & TreeMask] = previous;
    return previous;
}

// The newest position from candidate down its chain, within the window, whose first size bytes
// equal those at pos (current); 0 when there is none. Chains only lead to older positions.
inline uint32_t NewestEqualPrefix(const uint32_t* chain, uint32_t candidate, uint32_t pos,
                                  const unsigned char* current, uint32_t size)
{
    uint64_t wanted = Prefix(current, size);
    for (; pos - candidate <= WindowSize; candidate = chain[candidate & TreeMask]) {
        if (Prefix(current - (pos - candidate), size) == wanted)
            return candidate;
    }
    return 0;
}

// Inserts pos into its tree and returns its longest match there (limit at most), setting
// *distance; may return less than 3, or a shorter match found through a hash collision.
uint32_t SearchTree(Compressor* c, uint32_t pos, const unsigned char* current, uint32_t limit,
                    uint32_t* distance)
{
    uint32_t* head = c->TreeHead + HashKey(Prefix(current, TreePrefix));
    uint32_t candidate = *head;
    *head = pos;
    uint32_t* smallerLink = c->Son + ((pos & TreeMask) << 1);
    uint32_t* largerLink = smallerLink + 1;
    uint32_t smallerLength = 0, largerLength = 0, best = 0;
    // Newer nodes sit above older ones, so the first node out of the window ends the search.
    for (;;) {
        uint32_t delta = pos - candidate;
        if (delta > WindowSize) {
            *smallerLink = *largerLink = 0;
            return best;
        }
        uint32_t* node = c->Son + ((candidate & TreeMask) << 1);
        const unsigned char* earlier = current - delta;
        uint32_t length = smallerLength < largerLength ? smallerLength : largerLength;
        if (earlier[length] == current[length]) {
            length = MatchLength(earlier, current, length + 1, limit);
            if (length > best) {
                best = length;
                *distance = delta;
            }
            if (length == limit) {
                // Equal as far as matches reach: the new node takes the old one's place.
                *smallerLink = node[0];
                *largerLink = node[1];
                return best;
            }
        }
        if (earlier[length] < current[length]) {
            *smallerLink = candidate;
            smallerLink = node + 1;
            candidate = *smallerLink;
            smallerLength = length;
        } else {
            *largerLink = candidate;
            largerLink = node;
            candidate = *largerLink;
            largerLength = length;
        }
    }
}

// Inserts position pos into the match finder and returns the length of its longest match (0 when
// below 3), up to limit bytes (at least 3); *distance receives that match's distance.
uint32_t InsertAndFind(Compressor* c, uint32_t pos, uint32_t limit, uint32_t* distance)
{
    const unsigned char* current = c->Data + (pos - c->DataBase);
    uint32_t shortest = limit < TreePrefix ? limit : TreePrefix - 1; // longest prefix chained here
    uint32_t first[ChainCount];
    for (uint32_t size = SzddMinMatch; size <= shortest; ++size) {
        uint32_t k = size - SzddMinMatch;
        first[k] = PushChain(c->ChainHead[k] + HashKey(Prefix(current, size)), c->Chain[k], pos);
    }
    uint32_t best = 0;
    if (limit >= TreePrefix) {
        best = SearchTree(c, pos, current, limit, distance);
        if (best >= TreePrefix)
            return best;
    }
    // A match through a tree's hash collision may already be as long as a chain could give.
    for (uint32_t size = shortest; size >= SzddMinMatch && size > best; --size) {
        uint32_t k = size - SzddMinMatch;
        uint32_t match = NewestEqualPrefix(c->Chain[k], first[k], pos, current, size);
        if (match != 0) {
            *distance = pos - match;
            return size;
        }
    }
    return best >= SzddMinMatch ? best : 0;
}

// Keeps absolute positions in 32 bits on inputs of several gigabytes: shifts every position by a
// multiple of TreeSize, so node slots stay where they are.
void Renormalize(Compressor* c)
{
    // Everything still needed lies at or after DataBase.
    uint32_t shift = (c->DataBase - PositionBase) & ~TreeMask;
    for (uint32_t& link : c->TreeHead)
        link = link >= shift ? link - shift : 0;
    for (uint32_t& link : c->Son)
        link = link >= shift ? link - shift : 0;
    for (uint32_t k = 0; k < ChainCount; ++k) {
        for (uint32_t& link : c->ChainHead[k])
            link = link >= shift ? link - shift : 0;
        for (uint32_t& link : c->Chain[k])
            link = link >= shift ? link - shift : 0;
    }
    c->NextInsert -= shift;
    c->DataBase -= shift;
    c->DataEnd -= shift;
    c->InputStart = c->InputStart > shift ? c->InputStart - shift : 0;
    c->ParseBase -= shift;
}

// Reads input until the data buffer is full or the input has ended.
bool FillData(Compressor* c)
{
    while (!c->SourceEnded && c->DataEnd - c->DataBase < DataCapacity) {
        uint64_t owed = c->Expected - c->Consumed;
        size_t room = DataCapacity - (c->DataEnd - c->DataBase);
        unsigned char* at = c->Data + (c->DataEnd - c->DataBase);
        if (owed == 0) {
            // Everything announced has arrived; one more byte would be too many.
            unsigned char probe;
            if (c->Source.Read(c->Source.Context, &probe, 1, &c->ReadFailed) != 0) {
                char detail[sizeof c->Report->Detail];
                snprintf(detail, sizeof detail, "the input is longer than the announced %lu bytes",
                         static_cast<unsigned long>(c->Expected));
                Fail(c, SzddLengthMismatch, detail);
                return false;
            }
            c->SourceEnded = true;
            break;
        }
        size_t want = owed < room ? static_cast<size_t>(owed) : room;
        size_t got = c->Source.Read(c->Source.Context, at, want, &c->ReadFailed);
        if (got == 0) {
            if (c->ReadFailed) {
                Fail(c, SzddReadFailed, "read error in the input");
                return false;
            }
            char detail[sizeof c->Report->Detail];
            snprintf(detail, sizeof detail, "the input ends after %llu of the announced %lu bytes",
                     static_cast<unsigned long long>(c->Consumed), static_cast<unsigned long>(c->Expected));
            Fail(c, SzddLengthMismatch, detail);
            return false;
        }
        c->Consumed += got;
        c->Report->BytesIn = c->Consumed;
        c->DataEnd += static_cast<uint32_t>(got);
    }
    return true;
}

// Runs the match finder and the cost relaxation over every position that has its full
// look-ahead (or all of them once the input has ended) and fits the parse arrays.
void ParsePositions(Compressor* c)
{
    uint32_t end = c->SourceEnded ? c->DataEnd : c->DataEnd - SzddMaxMatch;
    uint32_t parseLimit = c->ParseBase + ParseCapacity - SzddMaxMatch - 1;
    if (end > parseLimit)
        end = parseLimit;
    for (uint32_t pos = c->NextInsert; pos < end; ++pos) {
        uint32_t available = c->DataEnd - pos;
        uint32_t lengthLimit = available < SzddMaxMatch ? available : SzddMaxMatch;
        uint32_t distance = 0;
        uint32_t longest = lengthLimit >= SzddMinMatch ? InsertAndFind(c, pos, lengthLimit, &distance) : 0;
        if (pos < c->InputStart)
            continue;
        uint32_t i = pos - c->ParseBase;
        c->MatchDistance[i] = static_cast<uint16_t>(distance);
        uint32_t* steps = c->Step + i;
        uint32_t cost = steps[0] >> TokenBits;
        uint32_t literal = (cost + LiteralBits) << TokenBits | 1;
        if (literal < steps[1])
            steps[1] = literal;
        if (longest == 0)
            continue;
        // All sixteen pair slots without branches (lengths beyond the match offer nothing), so the
        // compiler can do them as vector minimums.
        uint32_t pair = (cost + PairBits) << TokenBits;
        for (uint32_t length = SzddMinMatch; length <= SzddMaxMatch; ++length) {
            uint32_t offered = length <= longest ? pair | length : Unreached;
            steps[length] = offered < steps[length] ? offered : steps[length];
        }
    }
    if (end > c->NextInsert)
        c->NextInsert = end;
}

// Writes the tokens of the cheapest path from ParseBase to the absolute position `upTo`.
bool EmitPath(Compressor* c, uint32_t upTo)
{
    uint32_t count = 0;
    for (uint32_t i = upTo - c->ParseBase; i > 0; i -= c->Tokens[count++])
        c->Tokens[count] = static_cast<unsigned char>(c->Step[i] & TokenMask);
    uint32_t pos = c->ParseBase;
    while (count > 0) {
        uint32_t length = c->Tokens[--count];
        uint32_t i = pos - c->ParseBase;
        bool written = length == 1 ? PutLiteral(c, c->Data[pos - c->DataBase])
                                   : PutPair(c, pos, c->MatchDistance[i], length);
        if (!written)
            return false;
        pos += length;
    }
    return true;
}

// The furthest position that every cheapest path to the parsed edge passes through. Any parse of
// the whole input reaches one of the last SzddMaxMatch positions up to the edge, so the path up to
// this position is part of a cheapest parse of the whole input.
uint32_t FindSettledPosition(Compressor* c, bool* forced)
{
    uint32_t edge = c->NextInsert - c->ParseBase;
    for (uint32_t i = edge; i > 0; i -= c->Step[i] & TokenMask)
        c->Mark[i] = 1;
    c->Mark[0] = 1;
    uint32_t settled = edge;
    uint32_t first = edge > SzddMaxMatch - 1 ? edge - (SzddMaxMatch - 1) : 0;
    for (uint32_t start = first; start < edge; ++start) {
        uint32_t i = start;
        while (!c->Mark[i])
            i -= c->Step[i] & TokenMask;
        if (i < settled)
            settled = i;
    }
    for (uint32_t i = edge; i > 0; i -= c->Step[i] & TokenMask)
        c->Mark[i] = 0;
    c->Mark[0] = 0;
    if (edge - settled > c->CarryLimit) {
        // The paths have not merged for a very long stretch (never seen on real data): settle on
        // the path to the edge, giving up at most a few bits.
        settled = edge;
        *forced = true;
    }
    return c->ParseBase + settled;
}

// Makes `settled` the new ParseBase: moves the undecided positions to the front of the arrays.
// Positions beyond the edge were reached only from the last SzddMaxMatch positions, which all lie
// at or after a merged `settled`; after a forced settle they start afresh from it.
void AdvanceParseBase(Compressor* c, uint32_t settled, bool forced)
{
    uint32_t shift = settled - c->ParseBase;
    if (shift == 0)
        return;
    // Slots past the edge's longest reach are still unreached.
    uint32_t used = c->NextInsert - c->ParseBase + SzddMaxMatch + 1;
    uint32_t keep = used - shift;
    uint32_t baseCost = c->Step[shift] >> TokenBits;
    for (uint32_t i = 0; i < keep; ++i) {
        // Positions off every path through `settled` may cost less; they are never read again.
        uint32_t step = c->Step[i + shift];
        uint32_t cost = step >> TokenBits;
        c->Step[i] = step == Unreached
                         ? Unreached
                         : (cost > baseCost ? cost - baseCost : 0) << TokenBits | (step & TokenMask);
    }
    memmove(c->MatchDistance, c->MatchDistance + shift, keep * sizeof c->MatchDistance[0]);
    for (uint32_t i = forced ? 1 : keep; i < used; ++i)
        c->Step[i] = Unreached;
    c->ParseBase = settled;
}

// Drops data that neither the match window nor the undecided tokens need any more.
void CompactData(Compressor* c)
{
    uint32_t keepFrom = c->NextInsert - WindowSize;
    if (c->ParseBase < keepFrom)
        keepFrom = c->ParseBase;
    if (keepFrom <= c->DataBase)
        return;
    uint32_t drop = keepFrom - c->DataBase;
    memmove(c->Data, c->Data + drop, c->DataEnd - keepFrom);
    c->DataBase = keepFrom;
}

SzddStatus Compress(Compressor* c)
{
    SzddHeader header = c->Report->Header;
    unsigned char head[SzddHeaderSize];
    EncodeSzddHeader(header, head);
    if (!c->Sink.Write(c->Sink.Context, head, sizeof head))
        return Fail(c, SzddWriteFailed, "write failed");
    c->Report->BytesOut = sizeof head;

    for (;;) {
        if (!FillData(c))
            return c->Report->Status;
        ParsePositions(c);
        if (c->SourceEnded && c->NextInsert == c->DataEnd) {
            if (!EmitPath(c, c->DataEnd) || !FlushOutput(c))
                return Fail(c, SzddWriteFailed, "write failed");
            return SzddOk;
        }
        if (c->NextInsert > c->ParseBase) {
            bool forced = false;
            uint32_t settled = FindSettledPosition(c, &forced);
            if (!EmitPath(c, settled))
                return Fail(c, SzddWriteFailed, "write failed");
            AdvanceParseBase(c, settled, forced);
        }
        CompactData(c);
        if (c->NextInsert >= c->RenormalizeAt)
            Renormalize(c);
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
    memset(report, 0, sizeof *report);
    report->Header.Mode = SzddModeA;
    report->Header.MissingCharacter = missingCharacter;
    report->Header.ExpandedLength = expandedLength;
    Compressor* c = new (std::nothrow) Compressor;
    if (c == nullptr) {
        report->Status = SzddOutOfMemory;
        snprintf(report->Detail, sizeof report->Detail, "not enough memory to compress");
        return SzddOutOfMemory;
    }
    c->Source = source;
    c->Sink = sink;
    c->Report = report;
    c->Expected = expandedLength;
    c->Consumed = 0;
    c->SourceEnded = false;
    c->ReadFailed = false;
    c->DataBase = PositionBase;
    memset(c->Data, 0, sizeof c->Data);
    memset(c->Data, SzddRingFill, WindowSize);
    c->DataEnd = FirstInputPosition;
    c->InputStart = FirstInputPosition;
    c->RenormalizeAt = limits.RenormalizeAt < (1u << 20) ? (1u << 20) : limits.RenormalizeAt;
    c->CarryLimit = limits.CarryLimit < MaxCarry ? limits.CarryLimit : MaxCarry;
    c->NextInsert = PositionBase;
    memset(c->TreeHead, 0, sizeof c->TreeHead);
    memset(c->Son, 0, sizeof c->Son);
    memset(c->ChainHead, 0, sizeof c->ChainHead);
    memset(c->Chain, 0, sizeof c->Chain);
    c->ParseBase = c->InputStart;
    for (uint32_t& step : c->Step)
        step = Unreached;
    c->Step[0] = 0;
    memset(c->Mark, 0, sizeof c->Mark);
    c->OutSize = 0;
    c->FlagAt = 0;
    c->GroupItems = 8;
    SzddStatus status = Compress(c);
    delete c;
    report->Status = status;
    return status;
}
