// A close of the run's windows (the backdrop's, or the progress dialog's Cancel) as the user's
// request to stop. The windows only report it: the driver tells them whether a close counts (a
// passive run) and decides what a stop means.
#pragma once

// Whether a close asks the run to stop from now on; off, a close is ignored as it always was.
void SetCloseMeansStop(bool stops);
bool CloseMeansStop();

// True once a close was taken as a request to stop; set on the windows' own thread, read on any.
bool StopAsked();

// Takes a close as a request to stop (from the windows' procedures, when CloseMeansStop).
void NoteStopAsked();

// Forgets a request taken, for another run in the same process.
void ClearStopAsked();
