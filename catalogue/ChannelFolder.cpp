#include "catalogue/ChannelFolder.h"

#include "kestrel/File.h"

std::u16string channelFolderPath(const std::u16string& dataFolder) { return dataFolder + u"channels"; }

bool ensureChannelFolder(const std::u16string& channelFolder)
{
    if (kestrel::directoryExists(channelFolder)) {
        return true;
    }
    kestrel::createDirectory(channelFolder);
    // Another process may have made it meanwhile: only the end state counts.
    return kestrel::directoryExists(channelFolder);
}
