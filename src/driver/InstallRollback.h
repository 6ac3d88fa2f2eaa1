// Undoing a failed install: the journal of its changes is started before the first change, played
// backwards when the run fails, and ended when it succeeds; one left behind by a run that did not
// end is undone by the next run before anything else.
#pragma once

#include <windows.h>

// Starts the install journal. When it cannot be made (another run holds it, or the Windows folder
// refuses it), shows "Unable to open file: " with its path and returns false; nothing was changed.
bool StartInstallUndo(HWND backdrop);

// True when an unattended run has recorded a failure or a cancel so far; its changes are then
// undone, so that its exit code means that nothing changed.
bool UnattendedRunFailed();

// Throws ZorvaneException ErrWriteError naming the key (HKEY_LOCAL_MACHINE\...) with the system's
// reason when a registry write of the run was refused: an installation without its uninstall entry
// could not be removed again.
void CheckRegistryWrites();

// Undoes the run's changes, once its failure has been shown, with "Undoing the changes..." on a
// progress dialog owned by backdrop meanwhile (none in a quiet run). An old file that cannot be
// moved back stays under its aside name; the log and a message name it (ExitFailure).
void UndoInstall(HWND backdrop);

// Ends the journal of a run that succeeded: the old files set aside are deleted, and those that
// cannot be (a program holds them) are deleted at the next restart, which the run's exit code then
// asks for (ExitRestartNeeded, from the count LeaveForRestart keeps).
void FinishInstall();

// Undoes a journal left by a run that did not end, before either sequence runs, and logs it. False
// when that could not be finished: a message names what stays aside, and the run stops.
bool RecoverInterruptedInstall(HWND backdrop);
