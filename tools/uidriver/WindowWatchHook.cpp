// Runs inside the watched program (an in-context WinEvent hook of its process): on the first
// window each thread creates it hooks that thread's window procedures, and reports every
// top-level window the thread shows, while the show happens. Nothing can be missed that way,
// however short the window's life or however slow the watcher.
#include "uidriver/WindowWatchShared.h"

#include <windows.h>

#include <string.h>

namespace {

HMODULE Self = nullptr;
WatchSection* Section = nullptr;
HANDLE Shown = nullptr;
// The threads whose window procedures are hooked; a thread's hook goes with the thread.
thread_local bool ThreadHooked = false;

bool OpenSection()
{
    if (Section != nullptr)
        return true;
    char name[64];
    WatchSectionName(name, GetCurrentProcessId());
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, name);
    if (mapping == nullptr)
        return false;
    void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(WatchSection));
    CloseHandle(mapping); // the view keeps the section
    WatchEventName(name, GetCurrentProcessId());
    Shown = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
    // Two threads may race here; the second view is merely one more of the same section.
    Section = static_cast<WatchSection*>(view);
    return Section != nullptr;
}

void Report(HWND window)
{
    if (!OpenSection())
        return;
    const LONG slot = InterlockedIncrement(&Section->Taken) - 1;
    if (slot >= WatchSlots)
        return; // the watcher sees Taken past the slots and says so
    char className[64] = "";
    char caption[WatchTextChars] = "";
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, caption, sizeof caption);
    char* text = Section->Text[slot];
    lstrcpynA(text, className, WatchTextChars);
    const size_t used = strlen(text);
    if (used + 1 < static_cast<size_t>(WatchTextChars)) {
        text[used] = '|';
        lstrcpynA(text + used + 1, caption, WatchTextChars - static_cast<int>(used) - 1);
    }
    InterlockedExchange(&Section->Written[slot], 1);
    if (Shown != nullptr)
        SetEvent(Shown);
}

// A text set on the trigger's control: the press, at the moment the program shows the text.
void NoteText(HWND control, const char* text)
{
    if (!OpenSection() || Section->TriggerControl == 0 || GetDlgCtrlID(control) != Section->TriggerControl)
        return;
    if (text == nullptr || lstrcmpA(text, Section->TriggerText) != 0 ||
        InterlockedExchange(&Section->TriggerPressed, 1) != 0)
        return;
    HWND window = GetParent(control);
    if (Section->TriggerButton != 0) {
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(Section->TriggerButton, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, Section->TriggerButton)));
        return;
    }
    // Held: painted now (the end of each paint puts it on the screen), then nothing of this
    // thread runs until the watcher has looked.
    RedrawWindow(GetAncestor(control, GA_ROOT), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    GdiFlush();
    char name[64];
    WatchHeldName(name, GetCurrentProcessId());
    HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
    WatchReleaseName(name, GetCurrentProcessId());
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, name);
    if (held != nullptr && release != nullptr) {
        SetEvent(held);
        WaitForSingleObject(release, HoldLimitMs);
    }
    if (held != nullptr)
        CloseHandle(held);
    if (release != nullptr)
        CloseHandle(release);
}

LRESULT CALLBACK AfterWindowProcedure(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION) {
        const CWPRETSTRUCT* message = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
        const bool child = (GetWindowLongA(message->hwnd, GWL_STYLE) & WS_CHILD) != 0;
        if (message->message == WM_WINDOWPOSCHANGED &&
            (reinterpret_cast<const WINDOWPOS*>(message->lParam)->flags & SWP_SHOWWINDOW) && !child)
            Report(message->hwnd);
        else if (message->message == WM_SETTEXT && child)
            NoteText(message->hwnd, reinterpret_cast<const char*>(message->lParam));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

extern "C" __declspec(dllexport) void CALLBACK
    WatchWindowCreation(HWINEVENTHOOK, DWORD, HWND, LONG objectId, LONG, DWORD, DWORD)
{
    // The first window of a thread (its input window, at the latest) comes before any it shows.
    if (objectId != OBJID_WINDOW || ThreadHooked)
        return;
    ThreadHooked = true;
    if (Self == nullptr)
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&AfterWindowProcedure), &Self);
    SetWindowsHookExA(WH_CALLWNDPROCRET, AfterWindowProcedure, Self, GetCurrentThreadId());
}
