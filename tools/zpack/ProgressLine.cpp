#include "ProgressLine.h"

#include "ToolPlatform.h"

#include <string.h>

void BeginProgress(ProgressLine* line, FILE* stream, const char* label, uint64_t total)
{
    memset(line, 0, sizeof *line);
    line->LastPercent = -1;
    line->Total = total;
    snprintf(line->Label, sizeof line->Label, "%s", label);
    if (total >= ProgressThreshold && IsTerminal(stream))
        line->Stream = stream;
}

void ShowProgress(ProgressLine* line, uint64_t done, const char* item)
{
    if (line->Stream == nullptr)
        return;
    int percent = static_cast<int>(done >= line->Total ? 100 : done * 100 / line->Total);
    if (percent == line->LastPercent)
        return;
    line->LastPercent = percent;
    char text[256];
    int length = snprintf(text, sizeof text, "zpack: %s: %3d%% %s", line->Label, percent, item);
    size_t shown = length < 0 ? 0 : (static_cast<size_t>(length) < 79 ? static_cast<size_t>(length) : 79);
    fprintf(line->Stream, "\r%.*s%*s", static_cast<int>(shown), text,
            static_cast<int>(line->Width > shown ? line->Width - shown : 0), "");
    fflush(line->Stream);
    line->Width = shown;
}

void EndProgress(ProgressLine* line)
{
    if (line->Stream != nullptr && line->Width > 0) {
        fprintf(line->Stream, "\r%*s\r", static_cast<int>(line->Width), "");
        fflush(line->Stream);
    }
    line->Stream = nullptr;
}
