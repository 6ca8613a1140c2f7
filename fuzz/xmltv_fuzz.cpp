// Arbitrary bytes as an XMLTV guide file (plain or gzip-compressed): the
// reader must read it or refuse it without crashing, within its caps, and
// whatever it hands over must be what the guide can store: non-empty ids,
// texts within their caps in valid UTF-8, programmes that end after they
// start and lie near the window.
#include "guide/GuideText.h"
#include "guide/XmltvReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "kestrel/Exception.h"
#include "kestrel/Unicode.h"

namespace {

void require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

void requireText(const std::string& text, size_t cap)
{
    require(text.size() <= cap);
    try {
        kestrel::fromUtf8(text);
    } catch (const kestrel::cUnicodeConversionException&) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = "/tmp/lumivex-xmltv-fuzz-" + std::to_string(getpid()) + ".xml";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    cXmltvCaps caps;
    caps.maxXmlBytes = 8u << 20;
    caps.maxParserBytes = 2u << 20;
    caps.maxProgrammes = 1000;
    const int64_t now = 1710072000;
    const cXmltvWindow window{now - 6 * 3600, now + 48 * 3600};
    size_t channels = 0, programmes = 0;
    cXmltvSink sink;
    sink.channel = [&](const cXmltvChannel& channel) {
        ++channels;
        require(!channel.id.empty());
        requireText(channel.id, caps.maxIdBytes);
        require(channel.names.size() <= caps.maxNamesPerChannel);
        for (const std::string& name : channel.names) {
            requireText(name, caps.maxNameBytes);
            guideNameKey(name);
        }
    };
    sink.programme = [&](const cXmltvProgramme& programme) {
        ++programmes;
        require(!programme.channel.empty());
        requireText(programme.channel, caps.maxIdBytes);
        require(!programme.stop || *programme.stop > programme.start);
        require(programme.start < window.to + 24 * 3600);
        requireText(programme.title, caps.maxTitleBytes);
        requireText(programme.subTitle, caps.maxTitleBytes);
        requireText(programme.description, caps.maxDescriptionBytes);
        requireText(programme.category, caps.maxCategoryBytes);
        return true;
    };
    const cXmltvResult result = readXmltvFile(path, caps, window, sink, {});
    require(result.whole || !result.error.empty());
    require(!result.whole || (result.channels == channels && result.programmes == programmes));
    require(programmes <= caps.maxProgrammes);
    std::remove(path.c_str());
    return 0;
}
