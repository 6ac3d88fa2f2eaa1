#include "core/InstallJournal.h"

#include "core/JournalInternals.h"

using namespace journal;

namespace {

// The flushing of replacing files (StartFlushingReplacingFiles): the targets of the R records in
// the first FlusherEnd bytes of Records, flushed on a thread; those it could not flush are marked.
HANDLE Flusher;
DWORD FlusherEnd;
char* FlusherRecords; // its own copy of those bytes: the run goes on recording meanwhile
bool* FlushFailed;    // one per R record in those bytes
int FlusherTargets;

DWORD WINAPI FlushReplacingFiles(void*)
{
    ForEachReplacement(FlusherRecords, FlusherEnd, [](const char* target, const char* aside, int index) {
        FlushFailed[index] = Exists(aside) && !FlushByName(target);
    });
    return 0;
}
} // namespace

bool journal::FlushByName(const char* path)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool flushed = FlushFileBuffers(file) != FALSE;
    CloseHandle(file);
    if (flushed) {
        InterlockedIncrement(&Flushes);
        JournalTraceEvent("flush file", path);
    }
    return flushed;
}

void journal::WaitForFlusher()
{
    if (Flusher == nullptr)
        return;
    WaitForSingleObject(Flusher, INFINITE);
    CloseHandle(Flusher);
    Flusher = nullptr;
    HeapFree(GetProcessHeap(), 0, FlusherRecords);
    FlusherRecords = nullptr;
}

bool journal::FlushedByThread(int index)
{
    const int byThread = FlushFailed != nullptr && FlusherEnd <= Records.Size ? FlusherTargets : 0;
    return index < byThread && !FlushFailed[index];
}

void journal::ForgetFlushResults()
{
    if (FlushFailed != nullptr)
        HeapFree(GetProcessHeap(), 0, FlushFailed);
    FlushFailed = nullptr;
    FlusherEnd = 0;
}

void StartFlushingReplacingFiles()
{
    WaitForFlusher();
    if (!InstallJournalActive())
        return;
    if (FlushFailed != nullptr)
        HeapFree(GetProcessHeap(), 0, FlushFailed);
    FlusherEnd = Records.Size;
    FlusherTargets = 0;
    ForEachReplacement(Records.Data, FlusherEnd, [](const char*, const char*, int) { ++FlusherTargets; });
    FlushFailed = static_cast<bool*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, FlusherTargets + 1));
    FlusherRecords = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, FlusherEnd + 1));
    if (FlushFailed == nullptr || FlusherRecords == nullptr) {
        // The commit flushes them itself.
        if (FlushFailed != nullptr)
            HeapFree(GetProcessHeap(), 0, FlushFailed);
        if (FlusherRecords != nullptr)
            HeapFree(GetProcessHeap(), 0, FlusherRecords);
        FlushFailed = nullptr;
        FlusherRecords = nullptr;
        FlusherEnd = 0;
        return;
    }
    memcpy(FlusherRecords, Records.Data, FlusherEnd);
    Flusher = CreateThread(nullptr, 0, FlushReplacingFiles, nullptr, 0, nullptr);
    if (Flusher == nullptr) {
        FlushReplacingFiles(nullptr);
        HeapFree(GetProcessHeap(), 0, FlusherRecords);
        FlusherRecords = nullptr;
    }
}

void WaitForReplacingFiles() { WaitForFlusher(); }
