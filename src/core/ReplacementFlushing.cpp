#include "core/ReplacementFlushing.h"

#include <string.h>

void (*FlushedFileHook)(const char* path);

namespace {

// A growing array on the process heap; false when it cannot grow.
template <typename Item> bool Reserve(Item** items, int* room, int needed)
{
    if (needed <= *room)
        return true;
    int grown = *room == 0 ? 256 : *room * 2;
    while (grown < needed)
        grown *= 2;
    void* more = *items == nullptr ? HeapAlloc(GetProcessHeap(), 0, grown * sizeof(Item))
                                   : HeapReAlloc(GetProcessHeap(), 0, *items, grown * sizeof(Item));
    if (more == nullptr)
        return false;
    *items = static_cast<Item*>(more);
    *room = grown;
    return true;
}

struct QueuedFlush {
    int Replacement;
    char Target[MAX_PATH];
};

// States and queue are shared with the threads under Lock; Work counts the queue's items not yet
// taken (and, when stopping, one more per thread). Several threads: a disk takes flushes that
// arrive together in about the time of one, so eight threads flush several times as fast as one.
const int FlusherCount = 8;
CRITICAL_SECTION Lock;
bool LockMade;
unsigned char* States;
int StateCount, StateRoom;
bool StatesLost; // a state could not be kept: none is known from then on
QueuedFlush* Queue;
int QueueCount, QueueRoom, QueueTaken;
bool Stopping;
HANDLE Work;
HANDLE Threads[FlusherCount];
int ThreadCount;
LONG Flushes;

void EnsureLock()
{
    if (!LockMade) {
        InitializeCriticalSection(&Lock);
        LockMade = true;
    }
}

void SetState(int replacement, unsigned char bit)
{
    if (!LockMade)
        return; // nothing recorded yet
    EnterCriticalSection(&Lock);
    if (replacement >= 0 && replacement < StateCount)
        States[replacement] |= bit;
    LeaveCriticalSection(&Lock);
}

// Flushes the queued items not yet taken; with wait, sleeps on Work between them until stopped.
DWORD FlushQueued(bool wait)
{
    for (;;) {
        if (wait)
            WaitForSingleObject(Work, INFINITE);
        EnterCriticalSection(&Lock);
        if (QueueTaken < QueueCount) {
            QueuedFlush item = Queue[QueueTaken++];
            LeaveCriticalSection(&Lock);
            if (FlushFileByName(item.Target))
                SetState(item.Replacement, NewFileFlushed);
            continue;
        }
        const bool stop = Stopping || !wait;
        LeaveCriticalSection(&Lock);
        if (stop)
            return 0;
    }
}

DWORD WINAPI Flusher(void*) { return FlushQueued(true); }

} // namespace

int NoteReplacementRecorded()
{
    EnsureLock();
    EnterCriticalSection(&Lock);
    int number = -1;
    if (!StatesLost && Reserve(&States, &StateRoom, StateCount + 1)) {
        number = StateCount++;
        States[number] = ReplacementRecorded;
    } else {
        StatesLost = true;
    }
    LeaveCriticalSection(&Lock);
    return number;
}

void NoteAsideMade(int replacement) { SetState(replacement, AsideMade); }

void QueueReplacementFlush(int replacement, const char* target)
{
    if (replacement < 0 || strlen(target) >= MAX_PATH)
        return;
    EnsureLock();
    EnterCriticalSection(&Lock);
    bool queued = Reserve(&Queue, &QueueRoom, QueueCount + 1);
    if (queued) {
        Queue[QueueCount].Replacement = replacement;
        memcpy(Queue[QueueCount].Target, target, strlen(target) + 1);
        ++QueueCount;
        Stopping = false;
    }
    LeaveCriticalSection(&Lock);
    if (!queued)
        return; // the commit flushes it itself
    if (Work == nullptr)
        Work = CreateSemaphoreA(nullptr, 0, 0x7FFFFFFF, nullptr);
    while (Work != nullptr && ThreadCount < FlusherCount) {
        HANDLE thread =
            CreateThread(nullptr, 64 * 1024, Flusher, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (thread == nullptr)
            break;
        Threads[ThreadCount++] = thread;
    }
    if (ThreadCount == 0) {
        // No thread: this one does the work, now.
        FlushQueued(false);
        return;
    }
    ReleaseSemaphore(Work, 1, nullptr);
}

void WaitForReplacementFlushes()
{
    if (ThreadCount == 0)
        return;
    EnterCriticalSection(&Lock);
    Stopping = true;
    LeaveCriticalSection(&Lock);
    ReleaseSemaphore(Work, ThreadCount, nullptr);
    WaitForMultipleObjects(ThreadCount, Threads, TRUE, INFINITE);
    for (int i = 0; i < ThreadCount; ++i)
        CloseHandle(Threads[i]);
    ThreadCount = 0;
}

unsigned char ReplacementState(int replacement)
{
    if (!LockMade)
        return AsideMade;
    EnterCriticalSection(&Lock);
    unsigned char state = !StatesLost && replacement >= 0 && replacement < StateCount
                              ? States[replacement]
                              : static_cast<unsigned char>(AsideMade);
    LeaveCriticalSection(&Lock);
    return state;
}

void ForgetReplacements()
{
    WaitForReplacementFlushes();
    if (!LockMade)
        return;
    EnterCriticalSection(&Lock);
    StateCount = 0;
    StatesLost = false;
    QueueCount = QueueTaken = 0;
    LeaveCriticalSection(&Lock);
}

bool FlushFileByName(const char* path)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool flushed = FlushFileBuffers(file) != FALSE;
    CloseHandle(file);
    if (flushed) {
        InterlockedIncrement(&Flushes);
        if (FlushedFileHook != nullptr)
            FlushedFileHook(path);
    }
    return flushed;
}

int ReplacementFlushes() { return static_cast<int>(Flushes); }
