#include "kestrel/Exception.h"
#include "kestrel/System.h"
#include "kestrel/Unicode.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

using namespace kestrel;

namespace {

// Sets or clears an environment variable for one scope.
class cScopedEnv {
public:
    cScopedEnv(const char* name, const char* value) : mName(name)
    {
        if (const char* old = std::getenv(name)) {
            mOld = old;
        }
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~cScopedEnv()
    {
        if (mOld) {
            setenv(mName, mOld->c_str(), 1);
        } else {
            unsetenv(mName);
        }
    }

private:
    const char* mName;
    std::optional<std::string> mOld;
};

} // namespace

TEST(System, ApplicationPathIsTheExecutablesFolder)
{
    // The build system says where it put this executable; the working
    // directory is elsewhere, so a path taken from it cannot pass.
    const std::string expected = std::filesystem::canonical(KESTREL_TEST_EXECUTABLE_FOLDER).string() + "/";
    testsupport::cTempFolder elsewhere("kestrel");
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(elsewhere.path());
    const std::string path = toUtf8(cSystem::getApplicationPath());
    std::filesystem::current_path(previous);
    EXPECT_EQ(path, expected);
}

TEST(System, UserDataPath)
{
    testsupport::cTempFolder folder("kestrel");
    {
        cScopedEnv data("XDG_DATA_HOME", nullptr);
        cScopedEnv home("HOME", folder.path().c_str());
        EXPECT_EQ(toUtf8(cSystem::getSafeUserDataPath()), folder.path() + "/.local/share/");
        EXPECT_TRUE(std::filesystem::is_directory(folder.path() + "/.local/share"));
    }
    {
        const std::string withSlash = folder.path() + "/data/";
        cScopedEnv data("XDG_DATA_HOME", withSlash.c_str());
        EXPECT_EQ(toUtf8(cSystem::getSafeUserDataPath()), withSlash); // no second slash
    }
    {
        const std::string withoutSlash = folder.path() + "/xdg";
        cScopedEnv data("XDG_DATA_HOME", withoutSlash.c_str());
        EXPECT_EQ(toUtf8(cSystem::getSafeUserDataPath()), withoutSlash + "/");
    }
    {
        // A relative XDG_DATA_HOME is ignored.
        cScopedEnv data("XDG_DATA_HOME", "relative");
        cScopedEnv home("HOME", folder.path().c_str());
        EXPECT_EQ(toUtf8(cSystem::getSafeUserDataPath()), folder.path() + "/.local/share/");
    }
    {
        cScopedEnv data("XDG_DATA_HOME", nullptr);
        cScopedEnv home("HOME", nullptr);
        try {
            cSystem::getSafeUserDataPath();
            FAIL() << "no exception";
        } catch (const cPlatformException& e) {
            EXPECT_EQ(e.message(), u"GetSafeUserDataPath fails");
        }
    }
}
