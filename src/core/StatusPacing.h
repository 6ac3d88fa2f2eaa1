// Paces a status text that changes faster than anyone reads it: a new text is shown at once when
// the last one has been up for StatusPaceMs, else held back and shown as soon as that much time
// has passed, so the text on screen never lags the work by more than the pace. Every change of a
// control costs the system a round of window messages; a thousand small files need not pay it
// a thousand times.
#pragma once

#include <stdint.h>

const uint32_t StatusPaceMs = 30;

struct StatusPace {
    char Latest[260]; // the newest text offered, cut to fit
    bool Started;     // a text has been shown
    bool HeldBack;    // Latest is not on screen yet
    uint32_t ShownAt; // the clock (milliseconds, wrapping) when a text was last shown
};

// Starts pace with nothing shown.
void StartStatusPace(StatusPace* pace);

// Offers text at the time now: true when it is to be shown now (Latest holds it), false when it
// is on screen already or held back.
bool OfferStatus(StatusPace* pace, const char* text, uint32_t now);

// True when a text held back is to be shown now (Latest holds it): its time has come.
bool HeldStatusDue(StatusPace* pace, uint32_t now);

// True when a text is held back, whatever the time: for the end of the work, so that the last
// text offered is the last one shown.
bool TakeHeldStatus(StatusPace* pace);
