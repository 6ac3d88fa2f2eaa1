#include "ui/WindowStop.h"

#include <atomic>

namespace {

std::atomic<bool> Stops;
std::atomic<bool> Asked;

} // namespace

void SetCloseMeansStop(bool stops) { Stops = stops; }

bool CloseMeansStop() { return Stops; }

bool StopAsked() { return Asked; }

void NoteStopAsked() { Asked = true; }

void ClearStopAsked() { Asked = false; }
