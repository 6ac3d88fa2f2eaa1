#include "CompressionPipeline.h"

#include "ToolPlatform.h"
#include "format/SzddFormat.h"
#include "format/SzddMatchFinder.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <string.h>
#include <thread>

namespace {

// A chunk is searched after the stream's 4096 bytes before it, as the finder needs.
const uint32_t History = SzddRingSize;
// Read beyond a chunk: its matches' look-ahead, or an entry's first bytes, read to classify it.
const uint32_t MaxCarried = SzddMaxMatch > SzddHeaderSize ? SzddMaxMatch : SzddHeaderSize;

enum SlotState { SlotFree, SlotPending, SlotRunning, SlotDone };

struct Slot {
    SlotState State;
    PipelineChunk Chunk;
    uint32_t Available;  // stream bytes readable from the chunk's first one, as FindSzddMatches wants
    unsigned char* Data; // History bytes before the chunk, the chunk, its look-ahead, slack
    uint8_t* Lengths;
    uint16_t* Distances;
};

} // namespace

struct CompressionPipeline {
    const std::vector<ManifestEntry>* Entries;
    uint32_t ChunkSize;
    Slot* Ring;
    size_t RingSize;
    size_t Head;   // the slot NextChunk hands out
    size_t Filled; // slots in use from Head on, in package order

    // The reader, on the caller's thread only: the entry being read and the bytes it has read
    // beyond the last chunk, after the History bytes before them.
    uint32_t NextEntry;
    FILE* File; // null between entries
    uint32_t ReadingEntry;
    uint64_t Consumed;
    uint32_t Carried;
    bool FirstChunk;
    bool BeginsLikeSzdd;
    unsigned char Carry[History + MaxCarried];

    SzddMatchFinder* CallerFinder;
    std::vector<SzddMatchFinder*> WorkerFinders;
    std::vector<std::thread> Workers;
    std::mutex Lock;
    std::condition_variable WorkAvailable; // a slot became pending, or Stopping
    std::condition_variable WorkDone;      // a slot's matches were found
    bool Stopping;
};

namespace {

void FindChunkMatches(SzddMatchFinder* finder, Slot* slot)
{
    RestartSzddMatchFinder(finder);
    FindSzddMatches(finder, slot->Data, History, History + slot->Available, nullptr, nullptr);
    FindSzddMatches(finder, slot->Data + History, slot->Chunk.Count, slot->Available, slot->Lengths,
                    slot->Distances);
}

// The oldest slot waiting for its matches; null when none. Under the lock.
Slot* OldestPending(CompressionPipeline* p)
{
    for (size_t i = 0; i < p->Filled; ++i) {
        Slot* slot = &p->Ring[(p->Head + i) % p->RingSize];
        if (slot->State == SlotPending)
            return slot;
    }
    return nullptr;
}

void Work(CompressionPipeline* p, SzddMatchFinder* finder)
{
    std::unique_lock<std::mutex> lock(p->Lock);
    while (!p->Stopping) {
        Slot* job = OldestPending(p);
        if (job == nullptr) {
            p->WorkAvailable.wait(lock);
            continue;
        }
        job->State = SlotRunning;
        lock.unlock();
        FindChunkMatches(finder, job);
        lock.lock();
        job->State = SlotDone;
        p->WorkDone.notify_all();
    }
}

void CloseEntry(CompressionPipeline* p)
{
    if (p->File != nullptr)
        fclose(p->File);
    p->File = nullptr;
}

void SetChunk(Slot* slot, ChunkKind kind, uint32_t entry, bool first)
{
    memset(&slot->Chunk, 0, sizeof slot->Chunk);
    slot->Chunk.Kind = kind;
    slot->Chunk.Entry = entry;
    slot->Chunk.First = first;
    slot->Chunk.Last = kind != ChunkMatched;
}

void FailEntry(CompressionPipeline* p, Slot* slot, ChunkFailure failure)
{
    SetChunk(slot, ChunkFailed, p->ReadingEntry, p->FirstChunk);
    slot->Chunk.Failure = failure;
    CloseEntry(p);
}

// Opens the next entry: fills slot for one that is not compressed or cannot be opened and returns
// true; otherwise starts reading it (with its first bytes carried) and returns false.
bool OpenNextEntry(CompressionPipeline* p, Slot* slot)
{
    uint32_t index = p->NextEntry++;
    const ManifestEntry& entry = (*p->Entries)[index];
    p->ReadingEntry = index;
    p->FirstChunk = true;
    if (entry.SourceSize == 0) {
        SetChunk(slot, ChunkPlain, index, true);
        return true;
    }
    p->File = OpenForReading(entry.Source);
    if (p->File == nullptr) {
        FailEntry(p, slot, SourceNotOpened);
        return true;
    }
    size_t lead = entry.SourceSize < SzddHeaderSize ? static_cast<size_t>(entry.SourceSize) : SzddHeaderSize;
    p->Carried = static_cast<uint32_t>(fread(p->Carry + History, 1, lead, p->File));
    p->Consumed = p->Carried;
    p->BeginsLikeSzdd = LooksCompressed(p->Carry + History, p->Carried);
    if (entry.Store && !p->BeginsLikeSzdd) {
        CloseEntry(p);
        SetChunk(slot, ChunkPlain, index, true);
        return true;
    }
    // The ring's starting blanks come before the first byte.
    memset(p->Carry, SzddRingFill, History);
    return false;
}

// Fills slot with the next chunk in package order; false when every entry has been read.
bool ReadChunk(CompressionPipeline* p, Slot* slot)
{
    if (p->File == nullptr) {
        if (p->NextEntry == p->Entries->size())
            return false;
        if (OpenNextEntry(p, slot))
            return true;
    }
    uint64_t size = (*p->Entries)[p->ReadingEntry].SourceSize;
    uint64_t start = p->Consumed - p->Carried;
    uint32_t count = size - start < p->ChunkSize ? static_cast<uint32_t>(size - start) : p->ChunkSize;
    uint64_t end = start + count + SzddMaxMatch < size ? start + count + SzddMaxMatch : size;
    memcpy(slot->Data, p->Carry, History + p->Carried);
    size_t wanted = static_cast<size_t>(end - p->Consumed);
    size_t got = fread(slot->Data + History + p->Carried, 1, wanted, p->File);
    p->Consumed += got;
    if (got < wanted) {
        FailEntry(p, slot, ferror(p->File) ? SourceReadFailed : SourceChanged);
        return true;
    }
    if (p->Consumed == size && fgetc(p->File) != EOF) {
        FailEntry(p, slot, SourceChanged);
        return true;
    }
    SetChunk(slot, ChunkMatched, p->ReadingEntry, p->FirstChunk);
    slot->Chunk.BeginsLikeSzdd = p->BeginsLikeSzdd;
    slot->Chunk.Last = start + count == size;
    slot->Chunk.Count = count;
    slot->Chunk.Bytes = slot->Data + History;
    slot->Chunk.Lengths = slot->Lengths;
    slot->Chunk.Distances = slot->Distances;
    slot->Available = static_cast<uint32_t>(end - start);
    // The search reads whole words past the data; what it finds there does not count, but is set.
    memset(slot->Data + History + slot->Available, 0, SzddMatchSlack);
    // The next chunk's history and what was read beyond this one.
    p->Carried = static_cast<uint32_t>(end - (start + count));
    memcpy(p->Carry, slot->Data + count, History + p->Carried);
    p->FirstChunk = false;
    if (slot->Chunk.Last)
        CloseEntry(p);
    return true;
}

// Reads ahead into every free slot.
void ReadAhead(CompressionPipeline* p)
{
    for (;;) {
        Slot* slot;
        {
            std::lock_guard<std::mutex> lock(p->Lock);
            if (p->Filled == p->RingSize)
                return;
            slot = &p->Ring[(p->Head + p->Filled) % p->RingSize];
        }
        // A free slot beyond Filled is the reader's alone.
        if (!ReadChunk(p, slot))
            return;
        std::lock_guard<std::mutex> lock(p->Lock);
        slot->State = slot->Chunk.Kind == ChunkMatched ? SlotPending : SlotDone;
        p->Filled++;
        if (slot->State == SlotPending)
            p->WorkAvailable.notify_one();
    }
}

void FreeRing(CompressionPipeline* p)
{
    for (size_t i = 0; i < p->RingSize; ++i) {
        delete[] p->Ring[i].Data;
        delete[] p->Ring[i].Lengths;
        delete[] p->Ring[i].Distances;
    }
    delete[] p->Ring;
}

} // namespace

unsigned DefaultThreadCount()
{
    unsigned count = std::thread::hardware_concurrency();
    return count > 0 ? count : 1;
}

CompressionPipeline* StartCompressionPipeline(const std::vector<ManifestEntry>& entries, unsigned threads,
                                              uint32_t chunkSize)
{
    if (threads < 1)
        threads = 1;
    if (chunkSize < 1)
        chunkSize = 1;
    CompressionPipeline* p = new (std::nothrow) CompressionPipeline;
    if (p == nullptr)
        return nullptr;
    p->Entries = &entries;
    p->ChunkSize = chunkSize;
    p->Head = p->Filled = 0;
    p->NextEntry = 0;
    p->File = nullptr;
    p->ReadingEntry = 0;
    p->Consumed = 0;
    p->Carried = 0;
    p->FirstChunk = false;
    p->BeginsLikeSzdd = false;
    p->Stopping = false;

    // Two chunks per thread keep every thread busy while the caller encodes; a small package
    // needs fewer.
    uint64_t chunks = 0;
    for (const ManifestEntry& entry : entries)
        chunks += entry.SourceSize > chunkSize ? (entry.SourceSize + chunkSize - 1) / chunkSize : 1;
    uint64_t ringSize = 2 * static_cast<uint64_t>(threads) + 2;
    p->RingSize = static_cast<size_t>(chunks < ringSize ? (chunks > 0 ? chunks : 1) : ringSize);
    p->Ring = new (std::nothrow) Slot[p->RingSize]();
    p->CallerFinder = CreateSzddMatchFinder();
    bool allocated = p->Ring != nullptr && p->CallerFinder != nullptr;
    for (size_t i = 0; allocated && i < p->RingSize; ++i) {
        Slot& slot = p->Ring[i];
        slot.State = SlotFree;
        slot.Data = new (std::nothrow) unsigned char[History + chunkSize + SzddMaxMatch + SzddMatchSlack];
        slot.Lengths = new (std::nothrow) uint8_t[chunkSize];
        slot.Distances = new (std::nothrow) uint16_t[chunkSize];
        allocated = slot.Data != nullptr && slot.Lengths != nullptr && slot.Distances != nullptr;
    }
    if (!allocated) {
        if (p->Ring != nullptr)
            FreeRing(p);
        DestroySzddMatchFinder(p->CallerFinder);
        delete p;
        return nullptr;
    }
    // No more workers than chunks beside the caller's, and fewer when the system gives no more.
    uint64_t workers = chunks > threads ? threads - 1 : (chunks > 0 ? chunks - 1 : 0);
    for (uint64_t i = 0; i < workers; ++i) {
        SzddMatchFinder* finder = CreateSzddMatchFinder();
        if (finder == nullptr)
            break;
        try {
            p->Workers.emplace_back(Work, p, finder);
        } catch (...) {
            DestroySzddMatchFinder(finder);
            break;
        }
        p->WorkerFinders.push_back(finder);
    }
    return p;
}

void StopCompressionPipeline(CompressionPipeline* pipeline)
{
    if (pipeline == nullptr)
        return;
    {
        std::lock_guard<std::mutex> lock(pipeline->Lock);
        pipeline->Stopping = true;
    }
    pipeline->WorkAvailable.notify_all();
    for (std::thread& worker : pipeline->Workers)
        worker.join();
    for (SzddMatchFinder* finder : pipeline->WorkerFinders)
        DestroySzddMatchFinder(finder);
    DestroySzddMatchFinder(pipeline->CallerFinder);
    CloseEntry(pipeline);
    FreeRing(pipeline);
    delete pipeline;
}

const PipelineChunk* NextChunk(CompressionPipeline* p)
{
    ReadAhead(p);
    std::unique_lock<std::mutex> lock(p->Lock);
    if (p->Filled == 0)
        return nullptr;
    Slot* head = &p->Ring[p->Head];
    while (head->State != SlotDone) {
        // Rather than wait, search a chunk here.
        Slot* job = OldestPending(p);
        if (job == nullptr) {
            p->WorkDone.wait(lock);
            continue;
        }
        job->State = SlotRunning;
        lock.unlock();
        FindChunkMatches(p->CallerFinder, job);
        lock.lock();
        job->State = SlotDone;
    }
    return &head->Chunk;
}

void ReleaseChunk(CompressionPipeline* p)
{
    {
        std::lock_guard<std::mutex> lock(p->Lock);
        if (p->Filled == 0)
            return;
        p->Ring[p->Head].State = SlotFree;
        p->Head = (p->Head + 1) % p->RingSize;
        p->Filled--;
    }
    ReadAhead(p);
}

void SkipEntry(CompressionPipeline* p, uint32_t entry)
{
    if (p->File != nullptr && p->ReadingEntry == entry)
        CloseEntry(p);
    {
        std::unique_lock<std::mutex> lock(p->Lock);
        while (p->Filled > 0 && p->Ring[p->Head].Chunk.Entry == entry) {
            Slot* head = &p->Ring[p->Head];
            if (head->State == SlotRunning) {
                p->WorkDone.wait(lock);
                continue;
            }
            head->State = SlotFree;
            p->Head = (p->Head + 1) % p->RingSize;
            p->Filled--;
        }
    }
    ReadAhead(p);
}
