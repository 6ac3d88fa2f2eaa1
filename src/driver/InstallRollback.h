// Undoing a failed install: the journal of its changes is started before the first change, played
// backwards when the run fails, and committed once its last change that can fail is made; one left
// behind by a run that did not end is acted on by the next run that goes on to change the machine,
// once the product is known not to run: undone when its install had not committed, finished when it
// had, resumed when it was an uninstall's.
#pragma once

#include <windows.h>

// Starts the install journal for DestinationFolder. When it cannot be made (another run holds it,
// or its folder refuses it), shows "Unable to open file: " with its path and returns false; nothing
// was changed.
bool StartInstallUndo(HWND backdrop);

// Starts the journal of an uninstall of installationFolder, unless the run resumes one
// (RecoverInterruptedRun found it): a cut uninstall is then finished by the next. A journal that
// cannot be made is logged and the uninstall goes on.
void StartUninstallJournal(const char* installationFolder);
// Ends the uninstall's journal: it is done.
void EndUninstallJournal();

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

// Commits the journal of a run whose last change that can fail is made: from here on nothing of it
// is undone. The old files set aside are deleted, and those that cannot be (a program holds them)
// are deleted at the next restart, which the run's exit code then asks for (ExitRestartNeeded,
// from the count LeaveForRestart keeps). Logs the journal's disk flushes.
void FinishInstall();

// What RecoverInterruptedRun found of an uninstall that did not end.
enum class LeftUninstall { None, Resumed };

// Acts on a journal left by a run that did not end, for a run that has passed the guard and goes
// on to change the machine, and logs it: an install's is undone, or finished when it had committed;
// one that is not this build's or does not parse is kept under another name. An uninstall's is
// resumed by an uninstall (resumed says so; it stays the run's journal) and dropped by an install.
// False when an undo could not be finished: a message names what stays aside, and the run stops.
bool RecoverInterruptedRun(HWND backdrop, LeftUninstall* resumed);
