// Arbitrary bytes as settings.xml, recent.xml and a language file: the
// readers must load them or refuse them without crashing, and the pictures
// that recent.xml names must load or be refused.
#include "state/Language.h"
#include "state/Recent.h"
#include "state/Settings.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// One scratch folder for the whole run, removed at exit.
struct cScratchFolder {
    cScratchFolder()
    {
        char pattern[] = "/tmp/lumivex-fuzz-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made == nullptr) {
            std::abort();
        }
        path = made;
    }
    ~cScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

void writeFile(const std::string& path, const uint8_t* data, size_t size)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::abort();
    }
    std::fwrite(data, 1, size, file);
    std::fclose(file);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static cScratchFolder scratch;
    writeFile(scratch.path + "/settings.xml", data, size);
    writeFile(scratch.path + "/recent.xml", data, size);
    const std::u16string folder = std::u16string(scratch.path.begin(), scratch.path.end()) + u"/";

    cSettings::instance()->setDataFolder(folder);
    cSettings::instance()->load(folder + u"settings.xml");
    loadLanguage(folder + u"settings.xml");
    cRecent* recent = cRecent::instance();
    recent->load(folder);
    for (int i = 0; recent->hasEntry(i); ++i) {
        uint8_t* pixels = nullptr;
        int width = 0;
        int height = 0;
        if (recent->loadPicture(i, pixels, width, height)) {
            cRecent::freePicture(pixels);
        }
    }
    cRecent::destroyInstance();
    cSettings::destroyInstance();
    clearLanguage();
    return 0;
}
