#include "ZpackCommand.h"

#include "CompressionPipeline.h"
#include "FileExtraction.h"
#include "PackageBuild.h"
#include "PackageReport.h"

#include <stdlib.h>

#include <string.h>

const char ZpackHelpText[] =
    "Usage: zpack build MANIFEST -o PACKAGE [-j THREADS]\n"
    "       zpack list PACKAGE\n"
    "       zpack verify PACKAGE\n"
    "       zpack extract PACKAGE DIR\n"
    "       zpack --help\n"
    "\n"
    "Builds and inspects the package that the TALVIQ Project Zorvane 2 PE Demo setup program\n"
    "installs from (Setup.z beside Setup.exe).\n"
    "\n"
    "Commands\n"
    "  build    Packs the files a manifest lists into PACKAGE. Every file is compressed (SZDD,\n"
    "           the Microsoft compress format) unless compression does not make it smaller or the\n"
    "           manifest says store; then it is stored as it is. A file that begins with an SZDD\n"
    "           header is always compressed, as the setup program would expand it otherwise.\n"
    "           Compresses on one thread per processor, or on THREADS threads with -j; the package\n"
    "           is the same byte for byte however many threads make it.\n"
    "  list     One line per entry:\n"
    "             index | target | display text | overwrite | stored bytes | expanded bytes | kind\n"
    "           where kind is compressed or stored.\n"
    "  verify   Reads the package as the setup program does and expands every entry. Reports the\n"
    "           first problem with the entry's index and the byte offset of its header: an entry\n"
    "           cut short, corrupt SZDD data, a target name that would leave the destination or\n"
    "           holds a character Windows does not allow in file names, a text field without its\n"
    "           terminator, a file where another entry needs a folder (or the reverse), an SZDD\n"
    "           header announcing more than 2147483647 bytes, an empty package. Otherwise prints\n"
    "           a summary.\n"
    "  extract  Writes every entry's expanded content under DIR (created when missing), entries\n"
    "           for the Windows system folder under DIR/@system. Checks every header before it\n"
    "           writes anything: refuses names that would leave DIR and files where another entry\n"
    "           needs a folder. Files appear only once the whole package has been read without a\n"
    "           problem; after any failure DIR is left as it was.\n"
    "\n"
    "Manifest\n"
    "  Text, one entry per line; blank lines and lines whose first non-blank character is #\n"
    "  are ignored. Fields are separated by | with surrounding blanks trimmed; trailing fields\n"
    "  may be left out:\n"
    "    target | source | display text | overwrite | storage\n"
    "  target        Relative Windows path with backslashes, at most 63 characters; or @\\name\n"
    "                for the Windows system folder (name at most 61 characters). Refused: '..'\n"
    "                or dot-only components, a drive, a leading backslash, '/', characters\n"
    "                Windows does not allow in file names (< > : \" | ? * and control\n"
    "                characters), names ending in a dot or blank, device names (CON, NUL, COM1...),\n"
    "                empty components, a target listed twice or one that is also a folder of\n"
    "                another (a and a\\b; letter case ignored either way).\n"
    "  source        The file to pack, relative to the manifest's folder; it must exist.\n"
    "  display text  Shown by the setup program while it installs the file, at most 63\n"
    "                characters; empty means the target's file name.\n"
    "  overwrite     What the setup program does when the target exists: replace-if-newer\n"
    "                (only by a file with a higher version), keep-existing, or always-replace\n"
    "                (the default when empty).\n"
    "  storage       compress (the default when empty) or store.\n"
    "  Lengths count bytes. Example:\n"
    "    # target          | source          | display text      | overwrite     | storage\n"
    "    tpz2.exe          | bin/tpz2.exe    | Main program      | replace-if-newer |\n"
    "    Data\\sample.tpz  | data/sample.tpz |                   | keep-existing | store\n"
    "    @\\zvhelper.dll   | bin/zvhelper.dll\n"
    "\n"
    "Limits\n"
    "  A file may hold at most 2147483647 bytes, compressed or stored: the setup program expands\n"
    "  no more. The package may not exceed 4294967295 bytes. A manifest line may hold 2048\n"
    "  characters.\n"
    "\n"
    "Output and errors\n"
    "  Errors name the manifest and line (MANIFEST:LINE:) or the package, entry index and offset.\n"
    "  build and extract write to temporary names beside their targets and move the results into\n"
    "  place only when complete: after an error no partial package or file is left. Bytes after\n"
    "  the last entry that are fewer than a header are a warning (the setup program ignores\n"
    "  them). On a terminal, a progress line on standard error follows large inputs.\n"
    "\n"
    "Exit status: 0 success, 1 failure or a problem found, 2 wrong usage.\n";

namespace {

const unsigned long MaxThreads = 256;

int Usage(FILE* err, const char* message, const char* detail = "")
{
    fprintf(err, "zpack: %s%s\nTry 'zpack --help'.\n", message, detail);
    return 2;
}

} // namespace

int RunZpack(int argc, char** argv, FILE* out, FILE* err)
{
    if (argc < 2)
        return Usage(err, "no command given");
    const char* command = argv[1];
    if (!strcmp(command, "--help") || !strcmp(command, "-h") || !strcmp(command, "help")) {
        fputs(ZpackHelpText, out);
        return 0;
    }
    if (!strcmp(command, "build")) {
        const char* manifest = nullptr;
        const char* package = nullptr;
        BuildOptions options = {DefaultThreadCount(), DefaultChunkSize};
        for (int i = 2; i < argc; ++i) {
            if (!strcmp(argv[i], "-o")) {
                if (i + 1 == argc || package != nullptr)
                    return Usage(err, "build takes one -o PACKAGE");
                package = argv[++i];
            } else if (!strcmp(argv[i], "-j")) {
                char* end = nullptr;
                unsigned long threads = i + 1 < argc ? strtoul(argv[i + 1], &end, 10) : 0;
                if (end == nullptr || end == argv[i + 1] || *end != '\0' || threads < 1 ||
                    threads > MaxThreads)
                    return Usage(err, "-j takes a number of threads from 1 to 256");
                options.Threads = static_cast<unsigned>(threads);
                ++i;
            } else if (manifest == nullptr) {
                manifest = argv[i];
            } else {
                return Usage(err, "build takes one manifest; unexpected ", argv[i]);
            }
        }
        if (manifest == nullptr || package == nullptr)
            return Usage(err, "usage: zpack build MANIFEST -o PACKAGE [-j THREADS]");
        return BuildPackage(manifest, package, options, out, err);
    }
    if (!strcmp(command, "list") || !strcmp(command, "verify")) {
        if (argc != 3)
            return Usage(err, "usage: zpack ", command[0] == 'l' ? "list PACKAGE" : "verify PACKAGE");
        return command[0] == 'l' ? ListPackage(argv[2], out, err) : VerifyPackage(argv[2], out, err);
    }
    if (!strcmp(command, "extract")) {
        if (argc != 4)
            return Usage(err, "usage: zpack extract PACKAGE DIR");
        return ExtractPackageFiles(argv[2], argv[3], out, err);
    }
    return Usage(err, "unknown command ", command);
}
