// One self-updating line on a terminal ("zpack: building Setup.z: 42% tpz2.exe") while zpack works
// on large input. Silent when the stream is not a terminal or the work is small.
#pragma once

#include <stdint.h>
#include <stdio.h>

struct ProgressLine {
    FILE* Stream; // null when inactive
    uint64_t Total;
    int LastPercent;
    size_t Width; // characters of the last line shown, to blank it out
    char Label[160];
};

// Inputs below this many bytes finish too quickly to need a progress line.
const uint64_t ProgressThreshold = 4u << 20;

void BeginProgress(ProgressLine* line, FILE* stream, const char* label, uint64_t total);
// Shows done out of Total, with the item being worked on, when the percentage has changed.
void ShowProgress(ProgressLine* line, uint64_t done, const char* item);
// Blanks the line out so that messages after it start on a clean line.
void EndProgress(ProgressLine* line);
