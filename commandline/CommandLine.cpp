#include "commandline/CommandLine.h"

#include <algorithm>
#include <filesystem>
#include <ostream>

#include <sys/stat.h>

#include "fetch/Fetch.h"
#include "kestrel/Exception.h"
#include "kestrel/System.h"
#include "kestrel/Unicode.h"
#include "state/Language.h"
#include "state/Settings.h"

#ifndef LUMIVEX_VERSION
#define LUMIVEX_VERSION "0"
#endif

namespace {

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// "file:///path" (or "file://localhost/path") as a path, percent escapes
// decoded. False for a file address on another host or a broken escape.
bool fileAddressPath(const std::string& address, std::string& path)
{
    std::string rest = address.substr(7);
    if (startsWith(rest, "localhost/")) {
        rest = rest.substr(9);
    }
    if (rest.empty() || rest[0] != '/') {
        return false;
    }
    path.clear();
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] != '%') {
            path += rest[i];
            continue;
        }
        if (i + 2 >= rest.size() || kestrel::hexDigitValue(rest[i + 1]) < 0 || kestrel::hexDigitValue(rest[i + 2]) < 0) {
            return false;
        }
        const int value = kestrel::hexDigitValue(rest[i + 1]) * 16 + kestrel::hexDigitValue(rest[i + 2]);
        if (value == 0) {
            return false;
        }
        path += static_cast<char>(value);
        i += 2;
    }
    return true;
}

bool hasControl(const std::string& text)
{
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// A list's or a guide's source as it is stored: a web address as given, a
// file as an absolute path. False with the reason otherwise; `what` names
// the kind of source in it.
bool normaliseSource(const std::string& given, const std::string& workingFolder, std::string& source,
                     std::string& error, const char* what = "list")
{
    if (given.empty() || hasControl(given)) {
        error = std::string("not a ") + what + ": \"" + given + "\"";
        return false;
    }
    if (isWebAddress(given)) {
        source = given;
        return true;
    }
    std::string path = given;
    if (startsWith(given, "file://")) {
        if (!fileAddressPath(given, path)) {
            error = "not a local file address: " + given;
            return false;
        }
    } else if (given.find("://") != std::string::npos) {
        error = "not a file or an http or https address: " + given;
        return false;
    }
    std::filesystem::path absolute(path);
    if (absolute.is_relative()) {
        absolute = std::filesystem::path(workingFolder) / absolute;
    }
    absolute = absolute.lexically_normal();
    struct stat status {};
    if (stat(absolute.c_str(), &status) != 0) {
        error = "no such file: " + absolute.string();
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        error = "not a plain file: " + absolute.string();
        return false;
    }
    source = absolute.string();
    try {
        kestrel::fromUtf8(source); // stored as text in settings.xml
    } catch (const kestrel::cException&) {
        error = "a file name that is not UTF-8 cannot be stored: " + source;
        return false;
    }
    return true;
}

// "host", "host:port" (a name, an IPv4 address or a bracketed IPv6 one), or
// an http/https base address.
bool isServerAddress(const std::string& server)
{
    if (isWebAddress(server)) {
        return true;
    }
    if (server.empty() || server.find("://") != std::string::npos) {
        return false;
    }
    std::string host = server;
    std::string port;
    if (server[0] == '[') {
        const size_t close = server.find(']');
        if (close == std::string::npos) {
            return false;
        }
        host = server.substr(1, close - 1);
        const std::string rest = server.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') {
                return false;
            }
            port = rest.substr(1);
            if (port.empty()) {
                return false;
            }
        }
        if (host.empty() || host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos) {
            return false;
        }
    } else {
        const size_t colon = server.find(':');
        if (colon != std::string::npos) {
            host = server.substr(0, colon);
            port = server.substr(colon + 1);
            if (port.empty()) {
                return false;
            }
        }
        if (host.empty() ||
            host.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-_") !=
                std::string::npos) {
            return false;
        }
    }
    if (!port.empty()) {
        if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        const int number = std::stoi(port);
        if (number < 1 || number > 65535) {
            return false;
        }
    }
    return true;
}

// The language file name for NAME as given ("German" is "german"). False
// with the reason when the program has no file of that name.
bool languageName(const std::string& given, std::string& language, std::string& error)
{
    language = given;
    std::transform(language.begin(), language.end(), language.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    std::vector<std::u16string> languages;
    try {
        languages = availableLanguages(kestrel::cSystem::getApplicationPath());
    } catch (const kestrel::cException&) {
        // No application folder: no language can be checked, none is taken.
    }
    std::string names;
    for (const std::u16string& name : languages) {
        if (kestrel::toUtf8(name) == language) {
            return true;
        }
        names += (names.empty() ? "" : ", ") + kestrel::toUtf8(name);
    }
    error = "no language \"" + given + "\" (there are: " + (names.empty() ? "none" : names) + ")";
    return false;
}

std::vector<std::u16string> wide(const std::vector<std::string>& texts)
{
    std::vector<std::u16string> result;
    for (const std::string& text : texts) {
        result.push_back(kestrel::fromUtf8(text));
    }
    return result;
}

} // namespace

std::string usageLine()
{
    return "Usage: lumivex [--list LIST]... [--server ADDRESS] [--guide GUIDE]... [--language NAME] [LIST]...";
}

std::string helpText()
{
    return usageLine() + "\n"
                         "Watch internet television from a catalogue server or from your own M3U lists.\n"
                         "\n"
                         "  --list LIST        watch the channels of this M3U list; repeat it for several\n"
                         "                     lists; they replace the stored lists\n"
                         "  --server ADDRESS   take the catalogue from this server (host:port, or a base\n"
                         "                     address http://... or https://...); the stored lists are\n"
                         "                     dropped\n"
                         "  LIST               add this list to the stored ones (what \"Open with\" passes)\n"
                         "  --guide GUIDE      read what is on from this XMLTV programme guide (a file or\n"
                         "                     an http:// or https:// address, gzip too) besides the\n"
                         "                     guides the lists name; repeat it for several; they\n"
                         "                     replace the stored guides\n"
                         "  --language NAME    show the player in this language from now on: english,\n"
                         "                     german, french, ... (without it, the first start takes\n"
                         "                     the desktop's language)\n"
                         "  --sources          print the stored server, lists and guides, then exit\n"
                         "  --help             print this help, then exit\n"
                         "  --version          print the version, then exit\n"
                         "\n"
                         "A LIST is an M3U or M3U8 file (a path or a file:// address) or an http:// or\n"
                         "https:// address; compressed (gzip) lists are read too. The sources are stored\n"
                         "in settings.xml and read again at every start; without options the player\n"
                         "starts on what is stored.\n"
                         "\n"
                         "Keys:\n"
                         "  home               Left/Right turn the carousel, Enter plays the middle\n"
                         "                     channel, C the channels, V the favourites\n"
                         "  channels, favorites  Up/Down choose in the list that has the keyboard, Tab\n"
                         "                     the next list, Enter plays, Escape or Backspace go back\n"
                         "  playing            Escape leaves full screen or goes back, F or F11 full\n"
                         "                     screen (or double-click the picture), M mute,\n"
                         "                     Left/Right or -/+ volume, Up/Down or Page Up/Page Down\n"
                         "                     the previous/next channel of the list it came from\n"
                         "  database updated   Enter continues\n";
}

std::string versionText()
{
    return std::string("lumivex ") + LUMIVEX_VERSION + "\n";
}

std::string sourcesText(const cSettings& settings)
{
    const std::vector<std::u16string> lists = settings.getLists();
    std::string text;
    for (size_t i = 0; i < lists.size(); ++i) {
        text += "list " + std::to_string(i + 1) + ": " + kestrel::toUtf8(lists[i]) + "\n";
    }
    text += "server: " + kestrel::toUtf8(settings.getServer());
    text += lists.empty() ? "\n" : " (not used while lists are stored)\n";
    const std::vector<std::u16string> guides = settings.getGuides();
    for (size_t i = 0; i < guides.size(); ++i) {
        text += "guide " + std::to_string(i + 1) + ": " + kestrel::toUtf8(guides[i]) + "\n";
    }
    return text;
}

cCommandLine parseCommandLine(const std::vector<std::string>& arguments, const std::string& workingFolder)
{
    cCommandLine result;
    const auto refuse = [&result](const std::string& why) {
        result = cCommandLine();
        result.action = cCommandLine::Refuse;
        result.error = why;
        return result;
    };
    bool optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
            std::string source;
            std::string error;
            if (!normaliseSource(argument, workingFolder, source, error)) {
                return refuse(error);
            }
            if (std::find(result.added.begin(), result.added.end(), source) == result.added.end()) {
                result.added.push_back(source);
            }
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = argument;
        std::string value;
        bool hasValue = false;
        const size_t equals = argument.find('=');
        if (startsWith(argument, "--") && equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
            hasValue = true;
        }
        const auto takeValue = [&]() -> bool {
            if (hasValue) {
                return true;
            }
            if (i + 1 >= arguments.size()) {
                return false;
            }
            value = arguments[++i];
            return true;
        };
        if (name == "--help" || name == "-h") {
            if (hasValue) {
                return refuse("option " + name + " takes no argument");
            }
            result.action = cCommandLine::PrintHelp;
            return result;
        }
        if (name == "--version") {
            if (hasValue) {
                return refuse("option " + name + " takes no argument");
            }
            result.action = cCommandLine::PrintVersion;
            return result;
        }
        if (name == "--sources") {
            if (hasValue) {
                return refuse("option " + name + " takes no argument");
            }
            result.action = cCommandLine::PrintSources;
            continue;
        }
        if (name == "--list") {
            if (!takeValue()) {
                return refuse("option --list needs a file or an address");
            }
            std::string source;
            std::string error;
            if (!normaliseSource(value, workingFolder, source, error)) {
                return refuse(error);
            }
            result.replaceLists = true;
            if (std::find(result.lists.begin(), result.lists.end(), source) == result.lists.end()) {
                result.lists.push_back(source);
            }
            continue;
        }
        if (name == "--guide") {
            if (!takeValue()) {
                return refuse("option --guide needs a file or an address");
            }
            std::string source;
            std::string error;
            if (!normaliseSource(value, workingFolder, source, error, "guide")) {
                return refuse(error);
            }
            result.replaceGuides = true;
            if (std::find(result.guides.begin(), result.guides.end(), source) == result.guides.end()) {
                result.guides.push_back(source);
            }
            continue;
        }
        if (name == "--server") {
            if (!takeValue()) {
                return refuse("option --server needs an address");
            }
            if (hasControl(value) || !isServerAddress(value)) {
                return refuse("not a server address (host:port, or http://... or https://...): \"" + value + "\"");
            }
            result.replaceServer = true;
            result.server = value;
            continue;
        }
        if (name == "--language") {
            if (!takeValue()) {
                return refuse("option --language needs a language");
            }
            std::string error;
            if (!languageName(value, result.language, error)) {
                return refuse(error);
            }
            continue;
        }
        return refuse("unknown option " + name);
    }
    if (result.replaceServer && (result.replaceLists || !result.added.empty())) {
        return refuse("a server and lists cannot be chosen together: the lists would hide the server");
    }
    if (result.action == cCommandLine::PrintSources &&
        (result.replaceServer || result.replaceLists || result.replaceGuides || !result.added.empty() ||
         !result.language.empty())) {
        return refuse("--sources only prints; give it alone");
    }
    if (result.lists.size() + result.added.size() > static_cast<size_t>(cSettings::MaxLists)) {
        return refuse("at most " + std::to_string(cSettings::MaxLists) + " lists can be stored");
    }
    if (result.guides.size() > static_cast<size_t>(cSettings::MaxGuides)) {
        return refuse("at most " + std::to_string(cSettings::MaxGuides) + " guides can be stored");
    }
    return result;
}

std::vector<std::string> toArguments(const cCommandLine& commandLine)
{
    std::vector<std::string> arguments;
    for (const std::string& list : commandLine.lists) {
        arguments.insert(arguments.end(), {"--list", list});
    }
    if (commandLine.replaceServer) {
        arguments.insert(arguments.end(), {"--server", commandLine.server});
    }
    for (const std::string& guide : commandLine.guides) {
        arguments.insert(arguments.end(), {"--guide", guide});
    }
    if (!commandLine.language.empty()) {
        arguments.insert(arguments.end(), {"--language", commandLine.language});
    }
    if (!commandLine.added.empty()) {
        arguments.push_back("--");
        arguments.insert(arguments.end(), commandLine.added.begin(), commandLine.added.end());
    }
    return arguments;
}

bool applyCommandLine(const cCommandLine& commandLine, cSettings& settings)
{
    bool changed = false;
    const std::vector<std::u16string> stored = settings.getLists();
    if (commandLine.replaceServer) {
        const std::u16string server = kestrel::fromUtf8(commandLine.server);
        if (server != settings.getServer() || !stored.empty()) {
            settings.setServer(server);
            settings.setLists({});
            settings.setInteger(u"dbversion", 0);
            settings.remove(u"listsdigest");
            changed = true;
        }
    }
    std::vector<std::u16string> lists = commandLine.replaceLists ? wide(commandLine.lists) : stored;
    for (const std::u16string& added : wide(commandLine.added)) {
        if (std::find(lists.begin(), lists.end(), added) == lists.end()) {
            lists.push_back(added);
        }
    }
    if (lists.size() > static_cast<size_t>(cSettings::MaxLists)) {
        lists.resize(static_cast<size_t>(cSettings::MaxLists));
    }
    if (lists != stored) {
        settings.setLists(lists);
        changed = true;
    }
    if (commandLine.replaceGuides && wide(commandLine.guides) != settings.getGuides()) {
        settings.setGuides(wide(commandLine.guides));
        changed = true;
    }
    if (!commandLine.language.empty() && kestrel::fromUtf8(commandLine.language) != settings.getLanguage()) {
        settings.setString(u"language", kestrel::fromUtf8(commandLine.language));
        changed = true;
    }
    return changed;
}

int handleCommandLine(int argc, const char* const* argv, const std::string& workingFolder,
                      const std::function<std::u16string()>& settingsPath, std::ostream& out,
                      std::ostream& error, cCommandLine& commandLine)
{
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    commandLine = parseCommandLine(arguments, workingFolder);
    switch (commandLine.action) {
    case cCommandLine::Run:
        return -1;
    case cCommandLine::PrintHelp:
        out << helpText();
        return 0;
    case cCommandLine::PrintVersion:
        out << versionText();
        return 0;
    case cCommandLine::PrintSources:
        try {
            cSettings& settings = *cSettings::instance();
            // A missing file prints the initial contents.
            settings.load(settingsPath());
            out << sourcesText(settings);
        } catch (const std::exception& failure) {
            error << "lumivex: cannot read the settings: " << failure.what() << "\n";
            return 1;
        }
        return 0;
    case cCommandLine::Refuse:
        break;
    }
    error << "lumivex: " << commandLine.error << "\n" << usageLine() << "\n";
    return 2;
}
