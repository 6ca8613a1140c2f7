#pragma once
// The command line of lumivex: which catalogue sources to store before the
// player starts, and the options that print and exit.
//
//   lumivex                      starts on what settings.xml holds
//   lumivex --list SOURCE ...    stores these lists in place of the stored
//                                ones (repeatable)
//   lumivex --server ADDRESS     stores this catalogue server and drops the
//                                lists
//   lumivex SOURCE ...           adds each list to the stored ones, once
//                                (what a file manager's "Open with" passes)
//   lumivex --guide GUIDE ...   stores these programme guides (XMLTV) in
//                                place of the stored ones (repeatable)
//   lumivex --language NAME      stores the language the player speaks
//                                (a file of the language folder: german, ...)
//   lumivex --sources | --help | --version   prints and exits 0
//
// A SOURCE (and a GUIDE) is an M3U (XMLTV) file (a path, or a file:// address as desktops pass
// it) or an http:// or https:// address. An unknown option, a missing or
// unusable argument prints one line and the help's first line and exits 2;
// nothing is written then. Options also take the "--name=value" form.

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

class cSettings;

struct cCommandLine {
    enum eAction {
        Run,          // start the player (after storing the sources below)
        PrintHelp,
        PrintVersion,
        PrintSources,
        Refuse,       // error holds the line to print; exit status 2
    };
    eAction action = Run;
    bool replaceLists = false;      // --list was given
    std::vector<std::string> lists; // --list sources, absolute, in order
    bool replaceServer = false;     // --server was given
    std::string server;             // as given
    std::vector<std::string> added; // bare sources, absolute, in order
    bool replaceGuides = false;     // --guide was given
    std::vector<std::string> guides; // --guide sources, absolute, in order
    std::string language;           // --language, lower case; empty: not given
    std::string error;              // Refuse: what was wrong, one line
};

// Reads the arguments (without the program's name). Relative paths are
// taken from workingFolder. Local files must exist as plain files; a
// language must have its file beside the program (in any letter case).
cCommandLine parseCommandLine(const std::vector<std::string>& arguments, const std::string& workingFolder);

// Stores what the command line asks for in the settings. True when
// anything changed (the caller then saves the settings). Changing the
// server (or dropping the lists for one) forgets the installed version, so
// that the new source's catalogue is installed whatever its number.
bool applyCommandLine(const cCommandLine& commandLine, cSettings& settings);

// The arguments that ask for the same sources and language (paths already
// absolute), to hand to the player that already runs on the same data
// folder.
std::vector<std::string> toArguments(const cCommandLine& commandLine);

// The help; its first line is the usage line that a refusal repeats.
std::string helpText();
std::string usageLine();
std::string versionText();
// What the settings hold as sources, one per line.
std::string sourcesText(const cSettings& settings);

// The whole command-line step of the entry point: parses, prints and
// returns the exit status for the print-and-exit forms and refusals, or -1
// when the player is to start (commandLine then holds what to store).
// settingsPath is asked for (and may throw) for --sources only.
int handleCommandLine(int argc, const char* const* argv, const std::string& workingFolder,
                      const std::function<std::u16string()>& settingsPath, std::ostream& out,
                      std::ostream& error, cCommandLine& commandLine);
