#include "driver/CommandLine.h"

#include "core/PathUtilities.h"
#include "format/PackageFormat.h"

#include <stdio.h>
#include <string.h>

#include <initializer_list>

const char SwitchHelpText[] =
    "Setup.exe [/r] [/quiet | /passive] [/dir=FOLDER] [/log=FILE] [/allusers] [/runatstartup] [/launch]\r"
    "/r\tuninstall (the first argument)\r"
    "/quiet\tno window at all (also /qn, /q, /s, /silent, /verysilent)\r"
    "/passive\tthe backdrop and the progress only (also /qb)\r"
    "/dir=FOLDER\tthe installation folder itself (absolute, local, at most 245 characters)\r"
    "/log=FILE\ta diagnostic log, created or appended (UTF-8)\r"
    "/allusers\tshortcuts in the Start menu of all users\r"
    "/runatstartup\tstart the product with Windows\r"
    "/launch\tstart the product when the installation ends\r"
    "/norestart\taccepted; Setup never restarts Windows\r"
    "/?\tthis list\r"
    "Exit codes of unattended runs:\r"
    "0 success; 3010 success, a file goes at the next restart; 1602 cancelled;\r"
    "1603 failed; 1605 not installed; 1618 the product or another Setup is running;\r"
    "1619 the package cannot be opened; 1620 the package is damaged;\r"
    "1622 the log cannot be opened; 1639 invalid command line";

namespace {

// The start of the arguments: past the program name (up to its closing quote when quoted, else
// to the first blank) and the one delimiter after it.
const char* SkipProgramName(const char* at)
{
    if (*at == '"') {
        ++at;
        while (*at != '\0' && *at != '"')
            ++at;
    } else {
        while (*at != '\0' && *at != ' ' && *at != '\t')
            ++at;
    }
    if (*at != '\0')
        ++at;
    return at;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// One argument without its quotes. An argument longer than Text keeps its first part and is
// marked OverLong.
struct Argument {
    char Text[MAX_PATH + 16];
    bool OverLong;
    bool Unterminated; // it ran into the end of the line inside quotes
};

// Reads the argument at *at and moves *at past it. False when only blanks are left.
bool NextArgument(const char** at, Argument* argument)
{
    const char* p = *at;
    while (IsBlank(*p))
        ++p;
    if (*p == '\0')
        return false;
    size_t used = 0;
    bool quoted = false;
    argument->OverLong = false;
    for (; *p != '\0' && (quoted || !IsBlank(*p)); ++p) {
        if (*p == '"') {
            quoted = !quoted;
            continue;
        }
        if (used + 1 < sizeof argument->Text)
            argument->Text[used++] = *p;
        else
            argument->OverLong = true;
    }
    argument->Text[used] = '\0';
    argument->Unterminated = quoted;
    *at = p;
    return true;
}

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Checks a /dir value and copies it, without a trailing backslash, into folder (MAX_PATH bytes).
// False, with the reason in problem (sizeof SetupOptions::Problem bytes), when it is refused.
bool TakeFolder(const Argument& argument, const char* value, char* folder, char* problem)
{
    const size_t problemSize = sizeof SetupOptions::Problem;
    size_t length = strlen(value);
    if (length > 3 && value[length - 1] == '\\')
        --length;
    // The install itself refuses a longer folder, after the guard: refused here, nothing starts.
    if (argument.OverLong || length > InstallFolderLimit) {
        snprintf(problem, problemSize, "/dir is longer than %d characters",
                 static_cast<int>(InstallFolderLimit));
        return false;
    }
    memcpy(folder, value, length);
    folder[length] = '\0';

    bool absolute = IsDriveLetter(folder[0]) && folder[1] == ':' && folder[2] == '\\';
    // Below the root, with backslashes only: the path functions split at nothing else. The check
    // refuses "." and "..", empty components, device names, colons and reserved characters.
    bool plain = absolute && strchr(folder, '/') == nullptr && IsContainedRelativePath(folder + 3);
    char root[4] = {folder[0], ':', '\\', '\0'};
    UINT type = absolute ? GetDriveTypeA(root) : DRIVE_UNKNOWN;
    bool local = type == DRIVE_FIXED || type == DRIVE_REMOVABLE || type == DRIVE_RAMDISK;
    if (!plain || !local) {
        snprintf(problem, problemSize, "/dir must name a folder below the root of a local drive: %s", value);
        folder[0] = '\0';
        return false;
    }
    return true;
}

// True when name (length characters) is known, letter case aside.
bool IsName(const char* name, size_t length, const char* known)
{
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name, static_cast<int>(length), known, -1) ==
           CSTR_EQUAL;
}

// Reads one argument into options; the first refusal is kept in options->Problem.
void TakeArgument(const Argument& argument, bool first, int uninstallMode, SetupOptions* options)
{
    char problem[sizeof options->Problem] = "";
    const char* text = argument.Text;
    const bool isSwitch = text[0] == '-' || text[0] == '/';
    const char* name = isSwitch ? text + 1 : text;
    const char* equals = strchr(name, '=');
    const size_t nameLength = equals != nullptr ? static_cast<size_t>(equals - name) : strlen(name);
    const char* value = equals != nullptr ? equals + 1 : nullptr;
    auto is = [&](const char* known) { return isSwitch && IsName(name, nameLength, known); };
    auto isAny = [&](std::initializer_list<const char*> names) {
        for (const char* known : names)
            if (is(known))
                return true;
        return false;
    };
    // The spellings deployment tools and administrators use for the two unattended levels.
    const bool quiet = isAny({"quiet", "qn", "q", "s", "silent", "verysilent"});
    const bool passive = isAny({"passive", "qb"});
    const bool installOnly = isAny({"dir", "runatstartup", "launch", "allusers"});

    if (argument.Unterminated) {
        snprintf(problem, sizeof problem, "a quotation mark is not closed: %s", text);
    } else if (installOnly && uninstallMode == 1) {
        snprintf(problem, sizeof problem, "%s applies to an install only", text);
    } else if (value == nullptr && (quiet || passive)) {
        if (options->Ui != UiLevel::Quiet)
            options->Ui = quiet ? UiLevel::Quiet : UiLevel::Passive;
    } else if (value == nullptr && is("norestart")) {
        options->NoRestart = true;
    } else if (value == nullptr && is("allusers")) {
        options->AllUsers = true;
    } else if (value == nullptr && is("?")) {
        options->ShowHelp = true;
    } else if (value == nullptr && is("runatstartup")) {
        options->RunAtStartup = true;
    } else if (value == nullptr && is("launch")) {
        options->Launch = true;
    } else if ((is("dir") || is("log")) && (value == nullptr || *value == '\0')) {
        snprintf(problem, sizeof problem, "%s needs a value", text);
    } else if (is("dir")) {
        TakeFolder(argument, value, options->Folder, problem);
    } else if (is("log") && (argument.OverLong || strlen(value) >= MAX_PATH)) {
        snprintf(problem, sizeof problem, "/log is longer than %d characters", MAX_PATH - 1);
    } else if (is("log")) {
        lstrcpynA(options->LogPath, value, MAX_PATH);
    } else if (!(first && uninstallMode == 1)) {
        // The first argument of an uninstall is its mode, whatever follows the r.
        bool misplacedMode = isSwitch && (name[0] == 'r' || name[0] == 'R');
        snprintf(problem, sizeof problem, "unknown argument: %s%s%s", text, argument.OverLong ? "..." : "",
                 misplacedMode ? " (an uninstall's /r comes first)" : "");
    }
    if (options->Problem[0] == '\0')
        lstrcpynA(options->Problem, problem, sizeof options->Problem);
}

} // namespace

int UninstallModeFromCommandLine(const char* commandLine)
{
    const char* at = SkipProgramName(commandLine);
    while (IsBlank(*at))
        ++at;
    if (*at == '-' || *at == '/')
        ++at;
    return *at == 'r' || *at == 'R' ? 1 : 0;
}

void ReadSetupOptions(const char* commandLine, int uninstallMode, SetupOptions* options)
{
    ZeroMemory(options, sizeof *options);
    const char* at = SkipProgramName(commandLine);
    Argument argument;
    for (bool first = true; NextArgument(&at, &argument); first = false)
        TakeArgument(argument, first, uninstallMode, options);
    if (options->Ui == UiLevel::Full) {
        // The interactive run reads the line as it always has; only a request for the list counts.
        bool help = options->ShowHelp;
        ZeroMemory(options, sizeof *options);
        options->ShowHelp = help;
    }
}

void ParseCommandLine()
{
    const char* commandLine = GetCommandLineA();
    UninstallMode = UninstallModeFromCommandLine(commandLine);
    ReadSetupOptions(commandLine, UninstallMode, &RunOptions);
}
