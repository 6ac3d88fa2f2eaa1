// The active journal's records as lines, and what later records say of earlier ones.
#include "core/InstallJournal.h"

#include "core/JournalInternals.h"
#include "core/JournalRecords.h"

#include <string.h>

using namespace journal;

void journal::ReleaseLines(JournalLines* lines)
{
    if (lines->Text != nullptr)
        HeapFree(GetProcessHeap(), 0, lines->Text);
    if (lines->Line != nullptr)
        HeapFree(GetProcessHeap(), 0, lines->Line);
    *lines = {};
}

bool journal::SplitLines(JournalLines* lines)
{
    *lines = {};
    DWORD end = Records.Size;
    while (end >= 2 && !(Records.Data[end - 2] == '\r' && Records.Data[end - 1] == '\n'))
        --end;
    if (end < 2)
        return true;
    lines->Text = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, end + 1));
    int most = 0;
    for (DWORD i = 0; i < end; ++i)
        most += Records.Data[i] == '\n';
    lines->Line = static_cast<char**>(HeapAlloc(GetProcessHeap(), 0, sizeof(char*) * (most + 1)));
    if (lines->Text == nullptr || lines->Line == nullptr) {
        ReleaseLines(lines);
        return false;
    }
    memcpy(lines->Text, Records.Data, end);
    lines->Text[end] = '\0';
    char* at = lines->Text;
    while (*at != '\0') {
        char* lineEnd = strstr(at, "\r\n");
        *lineEnd = '\0';
        lines->Withdrawals += at[0] == WithdrawnKind;
        lines->Line[lines->Count++] = at;
        at = lineEnd + 2;
    }
    return true;
}

bool journal::IsWithdrawn(const JournalLines& lines, int index)
{
    if (lines.Withdrawals == 0)
        return false;
    char copy[RecordLineSize];
    char* fields[MaxRecordFields] = {};
    RecordFields(lines.Line[index], copy, fields);
    for (int i = index + 1; i < lines.Count; ++i) {
        char laterCopy[RecordLineSize];
        char* later[MaxRecordFields] = {};
        if (lines.Line[i][0] == WithdrawnKind && RecordFields(lines.Line[i], laterCopy, later) == 3 &&
            lstrcmpiA(later[1], fields[1]) == 0 && lstrcmpiA(later[2], fields[2]) == 0)
            return true;
    }
    return false;
}
