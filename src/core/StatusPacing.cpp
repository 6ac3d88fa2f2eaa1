#include "core/StatusPacing.h"

#include <string.h>

namespace {

bool ShowNow(StatusPace* pace, uint32_t now)
{
    pace->Started = true;
    pace->HeldBack = false;
    pace->ShownAt = now;
    return true;
}

} // namespace

void StartStatusPace(StatusPace* pace) { memset(pace, 0, sizeof *pace); }

bool OfferStatus(StatusPace* pace, const char* text, uint32_t now)
{
    if (pace->Started && strncmp(pace->Latest, text, sizeof pace->Latest - 1) == 0)
        return false;
    strncpy(pace->Latest, text, sizeof pace->Latest - 1);
    pace->Latest[sizeof pace->Latest - 1] = '\0';
    // Unsigned difference: right across the clock's wrap.
    if (!pace->Started || now - pace->ShownAt >= StatusPaceMs)
        return ShowNow(pace, now);
    pace->HeldBack = true;
    return false;
}

bool HeldStatusDue(StatusPace* pace, uint32_t now)
{
    return pace->HeldBack && now - pace->ShownAt >= StatusPaceMs && ShowNow(pace, now);
}

bool TakeHeldStatus(StatusPace* pace) { return pace->HeldBack && ShowNow(pace, pace->ShownAt); }
