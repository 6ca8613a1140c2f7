#include "catalogue/AddressCodec.h"

#include <mutex>

unsigned cAddressGenerator::next()
{
    mState = mState * 214013u + 2531011u;
    return ((mState >> 15) ^ mState) % 128u;
}

namespace {

int hexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9') {
        return c - u'0';
    }
    if (c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    if (c >= u'A' && c <= u'F') {
        return c - u'A' + 10;
    }
    return -1;
}

std::mutex gGeneratorLock;
cAddressGenerator gGenerator; // guarded by gGeneratorLock

} // namespace

std::u16string decodeAddress(const std::u16string& encoded)
{
    std::u16string address;
    const size_t groups = encoded.size() / 4;
    address.reserve(groups);
    for (size_t group = 0; group < groups; ++group) {
        unsigned value = 0;
        for (size_t i = 0; i < 4; ++i) {
            const int digit = hexDigit(encoded[group * 4 + i]);
            if (digit < 0) {
                return address;
            }
            value = value * 16 + static_cast<unsigned>(digit);
        }
        const char16_t code = static_cast<char16_t>(value % 128);
        if (code == 0) {
            break;
        }
        address.push_back(code);
    }
    return address;
}

std::u16string encodeAddress(const std::u16string& address, cAddressGenerator& generator)
{
    static const char16_t digits[] = u"0123456789abcdef";
    std::u16string encoded;
    encoded.reserve(address.size() * 4);
    for (char16_t c : address) {
        const unsigned value = (static_cast<unsigned>(c) + 128u * generator.next()) & 0xFFFFu;
        encoded.push_back(digits[(value >> 12) & 0xF]);
        encoded.push_back(digits[(value >> 8) & 0xF]);
        encoded.push_back(digits[(value >> 4) & 0xF]);
        encoded.push_back(digits[value & 0xF]);
    }
    return encoded;
}

std::u16string encodeAddress(const std::u16string& address)
{
    std::lock_guard<std::mutex> lock(gGeneratorLock);
    return encodeAddress(address, gGenerator);
}
