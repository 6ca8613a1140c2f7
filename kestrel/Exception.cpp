#include "kestrel/Exception.h"

#include "kestrel/MessageBox.h"
#include "kestrel/Unicode.h"

namespace kestrel {

namespace {

// The wide type name of a subclass is its narrow what() text, decoded.
std::u16string decodedTypeName(const char* text)
{
    return fromUtf8(text);
}

} // namespace

cException::cException() = default;

cException::cException(const std::u16string& message) : mMessage(message) {}

cException::cException(const std::u16string& text, const std::u16string& detail) : mMessage(text)
{
    if (!detail.empty()) {
        mMessage += u": ";
        mMessage += detail;
    }
}

cException::cException(const cException& other) : std::exception(other), mMessage(other.mMessage) {}

cException& cException::operator=(const cException& other) = default;

cException::~cException() = default;

const char* cException::what() const noexcept { return "cException"; }

std::u16string cException::typeName() const { return u"cException"; }

cPlatformException::cPlatformException(const std::u16string& message) : cException(message) {}
const char* cPlatformException::what() const noexcept { return "Platform exception"; }
std::u16string cPlatformException::typeName() const { return decodedTypeName(what()); }

cBugException::cBugException() = default;
cBugException::cBugException(const std::u16string& message) : cException(message) {}
const char* cBugException::what() const noexcept { return "Bug exception"; }
std::u16string cBugException::typeName() const { return decodedTypeName(what()); }

const char* cOutOfMemoryException::what() const noexcept { return "Out of memory exception"; }
std::u16string cOutOfMemoryException::typeName() const { return decodedTypeName(what()); }

cFileIOException::cFileIOException(const std::u16string& text, const std::u16string& fileName)
    : cException(text, fileName)
{
}
const char* cFileIOException::what() const noexcept { return "File IO exception"; }
std::u16string cFileIOException::typeName() const { return decodedTypeName(what()); }

const char* cUnicodeConversionException::what() const noexcept { return "Unicode conversion exception"; }
std::u16string cUnicodeConversionException::typeName() const { return decodedTypeName(what()); }

void reportFatalError()
{
    if (!std::current_exception()) {
        showMessageBox(u"Application fatal error:", u"Fatal exception");
        return;
    }
    try {
        throw;
    } catch (const cException& exception) {
        showMessageBox(u"Application fatal error", exception.message());
    } catch (...) {
        showMessageBox(u"Application fatal error:", u"Fatal exception");
    }
}

void showApplicationException(const cException& exception)
{
    showMessageBox(u"Application exception", exception.message());
}

} // namespace kestrel
