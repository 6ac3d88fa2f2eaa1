// One entry's content on its single pass from the package: its stored bytes read in chunks and
// expanded (or copied) into memory when it fits there, else into the expansion temporary; the
// status text paced while a long entry is read or written.
#pragma once

#include "core/FileAccess.h"
#include "core/StatusPacing.h"

#include <windows.h>

#include <stdint.h>

// The clock the status text is paced on (GetTickCount). Tests put a clock of their own here.
extern DWORD(WINAPI* PaceClock)();

// The status text of the progress, paced (StatusPacing) on PaceClock: Show (may be null) is handed
// the latest text offered whenever it is due.
struct PacedStatus {
    void (*Show)(void* context, const char* text);
    void* Context;
    StatusPace Pace;
};

// Offers text (an entry's name) to status and hands it to Show at once when its time has come.
void OfferPacedStatus(PacedStatus* status, const char* text);

// Hands status's held-back text to Show when it is due (status may be null).
void ShowDueStatus(PacedStatus* status);

// The expansion temporary, held open from one entry to the next: each entry's content is written
// over the last one's and the file cut at its end, and a new target is written from it. Opening a
// file is the costliest file operation of some systems, and this spares two per entry. Others may
// read it while it is open; it is let go while the file is handled by name.
class ExpansionFile {
public:
    explicit ExpansionFile(const char* path); // does not open the file yet
    ~ExpansionFile();
    ExpansionFile(const ExpansionFile&) = delete;
    ExpansionFile& operator=(const ExpansionFile&) = delete;

    // Opens the file if it is not open (creating it when missing) and goes to its start. Throws
    // ErrUnableToOpen with the path.
    void Rewind();
    // Throw ErrWriteError with the path.
    void Write(const void* data, DWORD count);
    void CutHere();
    // Copies the whole file into a new file at targetPath, which must not exist; false, with the
    // system's error, when it cannot be made or written (a partial copy is removed). Between
    // chunks it shows status's held-back text when due (status may be null).
    bool CopyToNewFile(const char* targetPath, PacedStatus* status = nullptr);
    // Closes the file, so that it can be opened by name.
    void Release();

    char FileName[MAX_PATH];

private:
    static const DWORD Unknown = ~0u;
    HANDLE Handle;
    DWORD Written; // bytes written since the last Rewind
    DWORD Length;  // the file's length after the last CutHere; Unknown once opened
};

// An entry's expanded content kept in memory instead of the expansion temporary, so that the
// target is written straight from it. Whole is false when the content was too large to keep
// (ExpansionMemoryLimit) or the memory could not be had: the expansion temporary holds it then.
struct HeldContent {
    unsigned char* Data; // Room bytes from the process heap, or null
    uint32_t Room;
    uint32_t Size;
    bool Whole;
};

// Writes held's content into a new file at targetPath, which must not exist; false, with the
// system's error, when it cannot be made or written (a partial file is removed). Between pieces
// it shows status's held-back text when due (status may be null).
bool WriteNewFile(const char* targetPath, const HeldContent& held, PacedStatus* status = nullptr);

// Expanded content up to this many bytes is kept in memory. Tests lower it so that larger
// content takes the way through the expansion temporary.
extern uint32_t ExpansionMemoryLimit;

// Reads the next storedSize bytes of package (none when 0 or less) once, writing them to
// stored (when given), and the content they hold into held when given and the content fits, else
// over what expanded holds: compressed (SZDD) data expanded, anything else copied unchanged, as
// the platform's LZ expansion does. Between chunks it shows status's held-back text when due
// (status may be null). Every stored byte
// is read before a fault of the data is reported, so that a package cut short is reported as such.
// Throws what the reader and writers throw (the package's ErrUnexpectedEndOfFile and ErrReadError
// first), and ErrInvalidOrCorrupt (package) when compressed data do not expand
// to exactly the length they announce, which would install a wrong file.
void PassStoredBytes(FileReader& package, int32_t storedSize, FileWriter* stored, ExpansionFile& expanded,
                     HeldContent* held = nullptr, PacedStatus* status = nullptr);

// Gives back held's memory and leaves it empty.
void ReleaseHeld(HeldContent* held);
