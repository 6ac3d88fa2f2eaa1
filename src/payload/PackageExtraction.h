// Extraction of the package Setup.z into the destination folder and the system folder.
#pragma once

#include "core/FileAccess.h"
#include "core/StatusPacing.h"

#include <windows.h>

#include <stdint.h>

// Installs every entry of package, which must stand at its start, into DestinationFolder (or
// the system folder for '@' entries), appending to log what it creates, and reports each entry on
// the progress dialog (null: no reports). A file kept by its rule is logged too when an uninstall
// left it for the restart (IsDeletedAtRestart). Ends normally when fewer than a header's bytes are
// left after an entry. Throws ZorvaneException:
//   ErrUnexpectedEndOfFile (package) for an empty package or one cut inside an entry;
//   ErrInvalidOrCorrupt (package) for an entry whose target would leave its folder or whose text
//     fields lack their terminator (nothing of that entry is done), and for stored bytes that do
//     not expand exactly (the entry is not installed);
//   ErrWriteError (target, shortened to fit) with the system's "file name too long" error for a
//     target path that does not fit MAX_PATH (nothing of that entry is done);
//   ErrUnableToOpen (temporary folder or file) when the temporaries cannot be made or opened;
//   ErrFailedToCreateFolder (folder) when a target's folder chain cannot be made;
//   ErrWriteError (target) when a file cannot be copied into place, or (log) from the log;
//   ErrReadError (package), ErrWriteError (temporary) from the file classes.
// Both temporaries ("~vt", "~vx" in the temporary folder) are made at its start and gone when it
// returns or throws; an entry's content goes through them only when it cannot be held in memory.
// What was installed and logged before a failure stays. Processes no window messages. Before each
// entry it asks stopRequested (when given) and, on true, throws ErrOwnText with CancelledText.
void ExtractPackage(HWND progress, FileReader& package, FileWriter& log, bool (*stopRequested)() = nullptr);

// The longest folder path, its trailing backslash included, in which an existing file can be
// replaced or the temporaries made: the system wants room for a 13-character name after it.
const size_t ReplaceableFolderLength = MAX_PATH - 14;

// The renames of a replacement (MoveFileExA): the old file aside, the new one in, and after a
// failure the old one back. Tests put a failing one here to see that a failed replacement leaves
// the old file whole.
extern BOOL(WINAPI* MoveFileForReplacement)(LPCSTR, LPCSTR, DWORD);

// The clock the status text is paced on (GetTickCount). Tests put a clock of their own here.
extern DWORD(WINAPI* PaceClock)();

// The status text of the progress dialog, paced (StatusPacing) on PaceClock.
struct PacedStatus {
    HWND Progress;
    StatusPace Pace;
};

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

// The file version of the fixed file information in path's version resource: high is
// dwFileVersionMS, low dwFileVersionLS. False, outputs untouched, when path is missing, a folder
// or has no readable version resource.
bool ReadFileVersion(const char* path, DWORD* high, DWORD* low);
