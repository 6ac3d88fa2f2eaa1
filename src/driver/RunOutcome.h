// How a run's events become the exit code deployment tools read: the decisions that the sequences
// take about failures, cancellation, busy runs and files left for the next restart.
#pragma once

#include "core/ZorvaneException.h"

// The code a failure ends the run with: ExitCancelled when the user closed the passive run,
// ExitPackageDamaged when the package (packagePath, null when not yet known) is cut short or its
// data are damaged, ExitFailure for anything else.
int FailureExitCode(const ZorvaneException& error, const char* packagePath);

// True when the user closed the passive run: the sequences stop at their next safe point.
bool StopRequested();

// Records ExitCancelled and logs the stop when StopRequested; true then.
bool StoppedHere();

// After a sequence: a file of the product that goes only at the next restart makes a successful
// run ExitRestartNeeded.
void RecordFilesLeftForRestart();
