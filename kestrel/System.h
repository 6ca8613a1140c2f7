#pragma once
// The two folders the program works from. Both end in '/'.

#include <string>

namespace kestrel {

class cSystem {
public:
    cSystem() = delete;

    // The folder of the running executable (from /proc/self/exe).
    // Throws cPlatformException "GetApplicationPath fails".
    static std::u16string getApplicationPath();

    // The per-user local data folder: $XDG_DATA_HOME when it is set and
    // absolute, otherwise $HOME/.local/share. The folder is created when
    // missing, as the desktop's own folder always exists.
    // Throws cPlatformException "GetSafeUserDataPath fails".
    static std::u16string getSafeUserDataPath();
};

} // namespace kestrel
