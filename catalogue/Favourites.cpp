// The favourites of cPlayerDatabase: three parallel lists (name,
// description, encoded address) kept in favorites.xml in the channel folder.

#include "catalogue/PlayerDatabase.h"

#include "catalogue/AddressCodec.h"
#include "kestrel/Exception.h"
#include "kestrel/File.h"
#include "kestrel/Log.h"
#include "kestrel/Unicode.h"
#include "kestrel/XHScanner.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace {

// A favourites file larger than this is refused rather than read whole; a
// real one holds a few kilobytes.
constexpr uint64_t MaxFavouritesBytes = 16u * 1024u * 1024u;

// True when name equals lowerName, ignoring the case of ASCII letters.
bool equalsName(const char16_t* name, const char16_t* lowerName)
{
    for (;; ++name, ++lowerName) {
        char16_t c = *name;
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
        if (c != *lowerName) {
            return false;
        }
        if (c == 0) {
            return true;
        }
    }
}

} // namespace

void cPlayerDatabase::addFavourite(const std::u16string& name, const std::u16string& description,
                                   const std::u16string& address, const cRequestHeaders& headers)
{
    for (const std::u16string& stored : mFavouriteAddresses) {
        if (decodeAddress(stored) == address) {
            return;
        }
    }
    mFavouriteNames.push_back(name);
    mFavouriteDescriptions.push_back(description);
    mFavouriteAddresses.push_back(encodeAddress(address));
    mFavouriteHeaders.push_back(headers);
}

cRequestHeaders cPlayerDatabase::favouriteHeaders(int index) const
{
    return index >= 0 && static_cast<size_t>(index) < mFavouriteHeaders.size()
               ? mFavouriteHeaders[static_cast<size_t>(index)]
               : cRequestHeaders();
}

bool cPlayerDatabase::loadFavourites(const std::u16string& folder)
{
    const std::u16string path = folder + u"/favorites.xml";
    const auto refuse = [&path](const std::string& why) {
        std::string shown;
        try {
            shown = kestrel::toUtf8(path);
        } catch (const kestrel::cException&) {
            shown = "favorites.xml";
        }
        kestrel::logWarning("catalogue", "can't read the favourites in " + shown + ": " + why +
                                             "; starting without favourites, the file is left as it is");
        return false;
    };
    // Only a plain file is opened: a pipe would block the reader for ever.
    std::string native;
    struct stat info;
    if (kestrel::toNativePath(path, native) && stat(native.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        return refuse("not a plain file");
    }
    kestrel::cFile file;
    if (!file.open(path, kestrel::ModeRead)) {
        const int error = errno;
        // Only a missing file means "no favourites". One that is there but
        // cannot be opened must not be taken as empty: the save at shutdown
        // would then replace it with an empty list.
        if (!kestrel::fileExists(path)) {
            return true;
        }
        return refuse(std::strerror(error));
    }
    uint64_t size = 0;
    std::u16string text;
    if (!file.getSize(size)) {
        return refuse("its size is unknown");
    }
    if (size > MaxFavouritesBytes) {
        return refuse("larger than " + std::to_string(MaxFavouritesBytes) + " bytes");
    }
    if (!file.readAllText(text)) {
        return refuse(std::strerror(errno));
    }
    file.close();

    kestrel::cXHScannerStringInputStream stream(text);
    kestrel::cXHScanner scanner(stream);
    bool insideItem = false;
    std::u16string name;
    std::u16string address;
    std::u16string description;
    // Optional attributes of an item: the channel's request headers. A
    // file without them is read as it always was, and a value that could
    // break a request line is dropped.
    cRequestHeaders headers;
    const auto headerValue = [](const char16_t* value) {
        try {
            const std::string narrow = kestrel::toUtf8(kestrel::decodeAttributeValue(value));
            return isSendableHeaderValue(narrow) ? narrow : std::string();
        } catch (const kestrel::cException&) {
            return std::string();
        }
    };
    for (int token = scanner.getToken(); token != kestrel::cXHScanner::TokenEnd; token = scanner.getToken()) {
        switch (token) {
        case kestrel::cXHScanner::TokenTagStart:
            if (equalsName(scanner.getTagName(), u"item")) {
                insideItem = true;
                name.clear();
                address.clear();
                description.clear();
                headers = cRequestHeaders();
            }
            break;
        case kestrel::cXHScanner::TokenAttribute:
            if (equalsName(scanner.getAttrName(), u"name")) {
                name = kestrel::decodeAttributeValue(scanner.getValue());
            } else if (equalsName(scanner.getAttrName(), u"url")) {
                address = kestrel::decodeAttributeValue(scanner.getValue());
            } else if (equalsName(scanner.getAttrName(), u"useragent")) {
                headers.userAgent = headerValue(scanner.getValue());
            } else if (equalsName(scanner.getAttrName(), u"referrer")) {
                headers.referrer = headerValue(scanner.getValue());
            } else if (equalsName(scanner.getAttrName(), u"origin")) {
                headers.origin = headerValue(scanner.getValue());
            }
            break;
        case kestrel::cXHScanner::TokenWord:
            if (insideItem) {
                description += scanner.getValue();
            }
            break;
        case kestrel::cXHScanner::TokenSpace:
            if (insideItem) {
                description += u' ';
            }
            break;
        case kestrel::cXHScanner::TokenTagEnd:
            if (equalsName(scanner.getTagName(), u"item")) {
                insideItem = false;
                if (!name.empty() && !address.empty()) {
                    mFavouriteNames.push_back(name);
                    mFavouriteDescriptions.push_back(description);
                    mFavouriteAddresses.push_back(address);
                    mFavouriteHeaders.push_back(headers);
                }
            }
            break;
        default:
            break;
        }
    }
    return true;
}

bool cPlayerDatabase::saveFavourites(const std::u16string& folder)
{
    return kestrel::writeFileReplacing(folder + u"/favorites.xml", [this](kestrel::cFile& file) {
        file.writeByte(0xFF);
        file.writeByte(0xFE);
        file.writeWChar(u'<');
        file.writeText(u"favorites");
        file.writeWChar(u'>');
        file.writeWChar(u'\n');
        for (size_t i = 0; i < mFavouriteNames.size(); ++i) {
            file.writeText(u"<item name=\"");
            // Markup characters become entity references; a line without
            // any is written exactly as the format has always been.
            file.writeText(kestrel::escapeMarkup(mFavouriteNames[i], true));
            file.writeText(u"\" url=\"");
            file.writeText(kestrel::escapeMarkup(mFavouriteAddresses[i], true));
            // Only a favourite with headers has these attributes, so a file
            // without any is written exactly as before.
            const cRequestHeaders headers = favouriteHeaders(static_cast<int>(i));
            const std::pair<const char16_t*, const std::string*> attributes[] = {
                {u"\" useragent=\"", &headers.userAgent},
                {u"\" referrer=\"", &headers.referrer},
                {u"\" origin=\"", &headers.origin},
            };
            for (const auto& [attribute, value] : attributes) {
                std::u16string wide;
                try {
                    wide = kestrel::fromUtf8(*value);
                } catch (const kestrel::cException&) {
                    continue; // not text: never sent either
                }
                if (!wide.empty()) {
                    file.writeText(attribute);
                    file.writeText(kestrel::escapeMarkup(wide, true));
                }
            }
            file.writeText(u"\">");
            file.writeText(kestrel::escapeMarkup(mFavouriteDescriptions[i], false));
            file.writeText(u"</item>");
            file.writeWChar(u'\n');
        }
        file.writeWChar(u'<');
        file.writeText(u"/favorites");
        file.writeWChar(u'>');
        file.writeWChar(u'\n');
    });
}
