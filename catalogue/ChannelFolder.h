#pragma once
// The channel folder inside the per-user data folder holds "database",
// "tmpdb" and "favorites.xml". A first start has none, so the application
// makes the folder before the update, which can then fill it from the
// catalogue server.

#include <string>

// dataFolder (ending in '/') + "channels", without a trailing separator.
std::u16string channelFolderPath(const std::u16string& dataFolder);
// Creates the channel folder when it is missing. True when it exists
// afterwards.
bool ensureChannelFolder(const std::u16string& channelFolder);
