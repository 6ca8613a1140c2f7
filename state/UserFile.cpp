#include "state/UserFile.h"

#include <sys/stat.h>

#include "kestrel/File.h"
#include "kestrel/XHScanner.h"

namespace userfile {

namespace {

bool statPath(const std::u16string& path, struct stat& info)
{
    std::string native;
    return kestrel::toNativePath(path, native) && stat(native.c_str(), &info) == 0;
}

} // namespace

bool isPlainFile(const std::u16string& path)
{
    struct stat info;
    return statPath(path, info) && S_ISREG(info.st_mode);
}

bool pathExists(const std::u16string& path)
{
    struct stat info;
    return statPath(path, info);
}

eReadResult readText(const std::u16string& path, std::u16string& text)
{
    if (!isPlainFile(path))
        return pathExists(path) ? ReadFailed : ReadMissing;
    kestrel::cFile file;
    if (!file.open(path, kestrel::ModeRead))
        return ReadMissing;
    uint64_t size = 0;
    if (!file.getSize(size) || size > MaxFileBytes)
        return ReadFailed;
    std::u16string read;
    if (!file.readAllText(read))
        return ReadFailed;
    text = std::move(read);
    return ReadDone;
}

bool equalsName(const char16_t* name, const char16_t* lowerName)
{
    for (;; ++name, ++lowerName) {
        char16_t c = *name;
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != *lowerName)
            return false;
        if (c == 0)
            return true;
    }
}

void scanNamedItems(const std::u16string& text,
                    const std::function<void(const std::u16string&, const std::u16string&)>& store)
{
    using kestrel::cXHScanner;
    kestrel::cXHScannerStringInputStream stream(text);
    cXHScanner scanner(stream);
    std::u16string pendingName;
    std::u16string pendingText;
    for (int token = scanner.getToken(); token != cXHScanner::TokenEnd; token = scanner.getToken()) {
        switch (token) {
        case cXHScanner::TokenTagStart:
            if (equalsName(scanner.getTagName(), u"item")) {
                pendingName.clear();
                pendingText.clear();
            }
            break;
        case cXHScanner::TokenAttribute:
            if (equalsName(scanner.getAttrName(), u"name"))
                pendingName = scanner.getValue();
            break;
        case cXHScanner::TokenWord:
            pendingText += scanner.getValue();
            break;
        case cXHScanner::TokenSpace:
            pendingText += u' ';
            break;
        case cXHScanner::TokenTagEnd:
            // The pending texts are kept: only the next item start empties
            // them.
            if (equalsName(scanner.getTagName(), u"item") && !pendingName.empty() && !pendingText.empty())
                store(pendingName, pendingText);
            break;
        default:
            break;
        }
    }
}

std::u16string widen(const std::string& ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

} // namespace userfile
