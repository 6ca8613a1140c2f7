#pragma once
// The program's exception family. Every failure the user sees is one of
// these; message() is the text of the message box, shown unchanged.

#include <exception>
#include <string>

namespace kestrel {

class cException : public std::exception {
public:
    cException();
    explicit cException(const std::u16string& message);
    // message = text, then ": " and the detail when the detail is not empty.
    cException(const std::u16string& text, const std::u16string& detail);
    cException(const cException& other);
    cException& operator=(const cException& other);
    ~cException() override;

    const char* what() const noexcept override;
    virtual std::u16string typeName() const;

    const std::u16string& message() const { return mMessage; }

private:
    std::u16string mMessage;
};

class cPlatformException : public cException {
public:
    explicit cPlatformException(const std::u16string& message);
    cPlatformException(const cPlatformException& other) = default;
    const char* what() const noexcept override;
    std::u16string typeName() const override;
};

class cBugException : public cException {
public:
    cBugException();
    explicit cBugException(const std::u16string& message);
    cBugException(const cBugException& other) = default;
    const char* what() const noexcept override;
    std::u16string typeName() const override;
};

class cOutOfMemoryException : public cException {
public:
    cOutOfMemoryException() = default;
    const char* what() const noexcept override;
    std::u16string typeName() const override;
};

class cFileIOException : public cException {
public:
    cFileIOException(const std::u16string& text, const std::u16string& fileName);
    cFileIOException(const cFileIOException& other) = default;
    const char* what() const noexcept override;
    std::u16string typeName() const override;
};

class cUnicodeConversionException : public cException {
public:
    cUnicodeConversionException() = default;
    cUnicodeConversionException(const cUnicodeConversionException& other) = default;
    const char* what() const noexcept override;
    std::u16string typeName() const override;
};

// Called from inside a catch-all handler: rethrows the exception in flight
// and shows it in a box captioned "Application fatal error" (an exception of
// the family) or "Application fatal error:" with "Fatal exception" (anything
// else). Returns when the box is closed. Never throws.
void reportFatalError();

// A box captioned "Application exception" with the exception's message.
void showApplicationException(const cException& exception);

} // namespace kestrel
