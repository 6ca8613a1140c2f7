#include "kestrel/System.h"

#include "kestrel/Exception.h"
#include "kestrel/Unicode.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

std::u16string cSystem::getApplicationPath()
{
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (length <= 0) {
        throw cPlatformException(u"GetApplicationPath fails");
    }
    const std::string path(buffer, static_cast<size_t>(length));
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        throw cPlatformException(u"GetApplicationPath fails");
    }
    try {
        return fromUtf8(path.substr(0, slash + 1));
    } catch (const cUnicodeConversionException&) {
        throw cPlatformException(u"GetApplicationPath fails");
    }
}

std::u16string cSystem::getSafeUserDataPath()
{
    std::string folder;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome != nullptr && dataHome[0] == '/') {
        folder = dataHome;
    } else if (home != nullptr && home[0] == '/') {
        folder = std::string(home) + "/.local/share";
    } else {
        throw cPlatformException(u"GetSafeUserDataPath fails");
    }
    if (folder.back() != '/') {
        folder += '/';
    }
    // Create the folder and its missing parents, as the desktop would; a
    // failure here shows up when the program creates its own folder in it.
    for (size_t pos = 1; pos < folder.size(); ++pos) {
        if (folder[pos] == '/') {
            const std::string part = folder.substr(0, pos);
            if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
                break;
            }
        }
    }
    try {
        return fromUtf8(folder);
    } catch (const cUnicodeConversionException&) {
        throw cPlatformException(u"GetSafeUserDataPath fails");
    }
}

} // namespace kestrel
