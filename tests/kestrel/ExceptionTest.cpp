#include "kestrel/Exception.h"
#include "kestrel/MessageBox.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace kestrel;

namespace {

// Replaces the dialog with a recorder for the life of a test.
class cBoxRecorder {
public:
    cBoxRecorder()
    {
        setMessageBoxPresenter([this](const std::string& caption, const std::string& text) {
            boxes.emplace_back(caption, text);
        });
    }
    ~cBoxRecorder() { setMessageBoxPresenter({}); }
    std::vector<std::pair<std::string, std::string>> boxes;
};

} // namespace

TEST(Exception, MessagesAreBuiltFromTextAndDetail)
{
    EXPECT_EQ(cFileIOException(u"Can't write to file", u"/x/settings.xml").message(),
              u"Can't write to file: /x/settings.xml");
    EXPECT_EQ(cFileIOException(u"Can't write to file", u"").message(), u"Can't write to file");
    EXPECT_EQ(cException(u"text", u"detail").message(), u"text: detail");
    EXPECT_EQ(cException().message(), u"");
    EXPECT_EQ(cUnicodeConversionException().message(), u"");

    const cPlatformException original(u"can't create thread");
    const cPlatformException copy(original);
    EXPECT_EQ(copy.message(), u"can't create thread");
}

TEST(Exception, WhatAndTypeNameAreFixedPerClass)
{
    struct Case {
        const cException* exception;
        const char* what;
        std::u16string typeName;
    };
    const cException base(u"m");
    const cPlatformException platform(u"m");
    const cBugException bug(u"m");
    const cOutOfMemoryException memory;
    const cFileIOException file(u"m", u"p");
    const cUnicodeConversionException unicode;
    const Case cases[] = {
        {&base, "cException", u"cException"},
        {&platform, "Platform exception", u"Platform exception"},
        {&bug, "Bug exception", u"Bug exception"},
        {&memory, "Out of memory exception", u"Out of memory exception"},
        {&file, "File IO exception", u"File IO exception"},
        {&unicode, "Unicode conversion exception", u"Unicode conversion exception"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(c.exception->what(), c.what);
        EXPECT_EQ(c.exception->typeName(), c.typeName);
    }
}

TEST(Exception, FatalErrorReportCaptionsDependOnTheFamily)
{
    cBoxRecorder recorder;
    try {
        throw cPlatformException(u"GetSafeUserDataPath fails");
    } catch (...) {
        reportFatalError();
    }
    try {
        throw std::runtime_error("network");
    } catch (...) {
        reportFatalError();
    }
    try {
        throw cUnicodeConversionException();
    } catch (...) {
        reportFatalError();
    }
    showApplicationException(cException(u"Can't initialize UI subsystem."));

    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Application fatal error", "GetSafeUserDataPath fails"},
        {"Application fatal error:", "Fatal exception"},
        {"Application fatal error", ""},
        {"Application exception", "Can't initialize UI subsystem."},
    };
    EXPECT_EQ(recorder.boxes, expected);
}

TEST(Exception, ReportsNeverThrowEvenForBrokenText)
{
    cBoxRecorder recorder;
    const std::u16string broken = {u'a', char16_t(0xD800), u'b'};
    EXPECT_NO_THROW(showApplicationException(cException(broken)));
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].second, "a\xEF\xBF\xBD" "b");

    // A presenter that fails does not turn the report into a failure.
    setMessageBoxPresenter([](const std::string&, const std::string&) { throw std::runtime_error("x"); });
    EXPECT_NO_THROW(showApplicationException(cException(u"m")));
}
