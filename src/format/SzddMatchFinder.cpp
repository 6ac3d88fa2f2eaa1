#include "format/SzddMatchFinder.h"

#include "format/SzddFormat.h"

#include <new>
#include <string.h>

// Matches of TreePrefix bytes and more come from binary trees, one per hash of the first
// TreePrefix bytes, which keeps each tree small: the search through them is most of the work.
// Shorter lengths come from hash chains of 3-, 4- and 5-byte prefixes, walked (only when the tree
// found nothing that long) to the newest position whose prefix really is equal.
//
// Why the results do not depend on history: every link leads from a newer position to an older
// one, and a search stops at the first position out of the window, so it only ever sees positions
// of the last 4096. Among those, each tree is ordered by the positions' next 18 bytes with newer
// positions above older ones, and of positions whose 18 bytes agree only the newest stays: a shape
// fixed by those positions alone, whatever came before them. The chains give the newest equal
// prefix in the window, which is fixed the same way.

namespace {

const uint32_t WindowSize = SzddRingSize;
const uint32_t TreeSize = 2 * WindowSize; // cyclic link arrays; a power of two above WindowSize
const uint32_t TreeMask = TreeSize - 1;
const uint32_t HashBits = 16;
const uint32_t TreePrefix = 6;                         // bytes that select a tree
const uint32_t ChainCount = TreePrefix - SzddMinMatch; // one hash chain per shorter prefix length
// Positions start above TreeSize, so the empty link 0 is always out of reach.
const uint32_t PositionBase = TreeSize;

inline bool IsLittleEndian()
{
    const uint16_t probe = 1;
    unsigned char first;
    memcpy(&first, &probe, 1);
    return first == 1;
}

inline uint64_t Load64(const unsigned char* p)
{
    uint64_t value;
    memcpy(&value, p, sizeof value);
    return value;
}

// How far a and b agree, from `length` (known equal before it) up to limit. Compares eight bytes
// at a time; the caller's slack after the data keeps the last load inside readable memory.
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
// slack lets the whole-word load read past the last byte.
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

} // namespace

struct SzddMatchFinder {
    uint32_t NextPosition; // the internal position of the next byte added
    uint32_t RenormalizeAt;
    uint32_t TreeHead[1u << HashBits];
    uint32_t Son[2 * TreeSize];
    uint32_t ChainHead[ChainCount][1u << HashBits];
    uint32_t Chain[ChainCount][TreeSize];
};

namespace {

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
uint32_t SearchTree(SzddMatchFinder* f, uint32_t pos, const unsigned char* current, uint32_t limit,
                    uint32_t* distance)
{
    uint32_t* head = f->TreeHead + HashKey(Prefix(current, TreePrefix));
    uint32_t candidate = *head;
    *head = pos;
    uint32_t* smallerLink = f->Son + ((pos & TreeMask) << 1);
    uint32_t* largerLink = smallerLink + 1;
    uint32_t smallerLength = 0, largerLength = 0, best = 0;
    // Newer nodes sit above older ones, so the first node out of the window ends the search.
    for (;;) {
        uint32_t delta = pos - candidate;
        if (delta > WindowSize) {
            *smallerLink = *largerLink = 0;
            return best;
        }
        uint32_t* node = f->Son + ((candidate & TreeMask) << 1);
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

// Inserts position pos (its bytes at current) and returns the length of its longest match (0 when
// below 3), up to limit bytes (at least 3); *distance receives that match's distance.
uint32_t InsertAndFind(SzddMatchFinder* f, uint32_t pos, const unsigned char* current, uint32_t limit,
                       uint32_t* distance)
{
    uint32_t shortest = limit < TreePrefix ? limit : TreePrefix - 1; // longest prefix chained here
    uint32_t first[ChainCount];
    for (uint32_t size = SzddMinMatch; size <= shortest; ++size) {
        uint32_t k = size - SzddMinMatch;
        first[k] = PushChain(f->ChainHead[k] + HashKey(Prefix(current, size)), f->Chain[k], pos);
    }
    uint32_t best = 0;
    if (limit >= TreePrefix) {
        best = SearchTree(f, pos, current, limit, distance);
        if (best >= TreePrefix)
            return best;
    }
    // A match through a tree's hash collision may already be as long as a chain could give.
    for (uint32_t size = shortest; size >= SzddMinMatch && size > best; --size) {
        uint32_t k = size - SzddMinMatch;
        uint32_t match = NewestEqualPrefix(f->Chain[k], first[k], pos, current, size);
        if (match != 0) {
            *distance = pos - match;
            return size;
        }
    }
    return best >= SzddMinMatch ? best : 0;
}

// Keeps positions in 32 bits: shifts every link down by a multiple of TreeSize, so node slots
// stay where they are; links out of the window become 0.
void Renormalize(SzddMatchFinder* f)
{
    uint32_t shift = (f->NextPosition - WindowSize - PositionBase) & ~TreeMask;
    for (uint32_t& link : f->TreeHead)
        link = link >= shift ? link - shift : 0;
    for (uint32_t& link : f->Son)
        link = link >= shift ? link - shift : 0;
    for (uint32_t k = 0; k < ChainCount; ++k) {
        for (uint32_t& link : f->ChainHead[k])
            link = link >= shift ? link - shift : 0;
        for (uint32_t& link : f->Chain[k])
            link = link >= shift ? link - shift : 0;
    }
    f->NextPosition -= shift;
}

} // namespace

SzddMatchFinder* CreateSzddMatchFinder()
{
    SzddMatchFinder* f = new (std::nothrow) SzddMatchFinder;
    if (f == nullptr)
        return nullptr;
    memset(f, 0, sizeof *f);
    f->NextPosition = PositionBase;
    f->RenormalizeAt = 0x80000000u;
    return f;
}

void DestroySzddMatchFinder(SzddMatchFinder* finder) { delete finder; }

void RestartSzddMatchFinder(SzddMatchFinder* finder)
{
    // Every position seen lies more than a window behind the next one.
    finder->NextPosition += WindowSize;
    if (finder->NextPosition >= finder->RenormalizeAt)
        Renormalize(finder);
}

void FindSzddMatches(SzddMatchFinder* finder, const unsigned char* at, uint32_t count, uint32_t available,
                     uint8_t* lengths, uint16_t* distances)
{
    for (uint32_t k = 0; k < count; ++k) {
        uint32_t left = available - k;
        uint32_t limit = left < SzddMaxMatch ? left : SzddMaxMatch;
        uint32_t distance = 0;
        uint32_t longest =
            limit >= SzddMinMatch ? InsertAndFind(finder, finder->NextPosition, at + k, limit, &distance) : 0;
        if (lengths != nullptr) {
            lengths[k] = static_cast<uint8_t>(longest);
            distances[k] = static_cast<uint16_t>(distance);
        }
        if (++finder->NextPosition >= finder->RenormalizeAt)
            Renormalize(finder);
    }
}

void SetSzddMatchRenormalizing(SzddMatchFinder* finder, uint32_t renormalizeAt)
{
    finder->RenormalizeAt = renormalizeAt < (1u << 20) ? (1u << 20) : renormalizeAt;
}
