#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "catalogue/AddressCodec.h"

TEST(AddressCodec, DecodesGroupsOfFourDigits)
{
    struct cCase {
        std::u16string encoded;
        std::u16string address;
    };
    const cCase cases[] = {
        {u"006100e20163", u"abc"},          // high bits above the low seven are dropped
        {u"006100E20163", u"abc"},          // upper-case digits read the same
        {u"00680074", u"ht"},               // exact groups
        {u"0068007400", u"ht"},             // 10 characters: two groups, two left over
        {u"0068007", u"h"},                 // the incomplete group is ignored
        {u"", u""},
        {u"abc", u""},                      // shorter than one group
        {u"ffe1", u"a"},                    // 0xffe1 mod 128 = 0x61
        {u"00610000006200", u"a"},          // a code 0 ends the address
        {u"00800061", u""},                 // 0x80 mod 128 = 0 ends it at once
        {u"0061zz620063", u"a"},            // a group that is not hexadecimal ends it
        {u"0061 0620063", u"a"},
    };
    for (const cCase& c : cases) {
        EXPECT_EQ(decodeAddress(c.encoded), c.address) << std::string(c.encoded.begin(), c.encoded.end());
    }
}

TEST(AddressCodec, GeneratorSequenceFromStateZero)
{
    cAddressGenerator generator;
    const unsigned expected[] = {14, 53, 57, 78, 89, 116, 114, 115};
    uint32_t state = 0;
    for (unsigned value : expected) {
        EXPECT_EQ(generator.next(), value);
        state = state * 214013u + 2531011u;
        EXPECT_EQ(generator.state(), state);
    }
}

TEST(AddressCodec, EncodesWithTheGeneratorInLowerCaseHex)
{
    cAddressGenerator generator;
    // a + 128*14, b + 128*53, c + 128*57
    EXPECT_EQ(encodeAddress(u"abc", generator), u"07611ae21ce3");
    // One step per character.
    cAddressGenerator stepped;
    for (int i = 0; i < 3; ++i) {
        stepped.next();
    }
    EXPECT_EQ(generator.state(), stepped.state());

    // Code units at or above 128 keep only the low 16 bits of c + 128r and
    // do not survive decoding.
    cAddressGenerator fresh;
    EXPECT_EQ(encodeAddress(std::u16string(1, char16_t(0xFFFF)), fresh), u"06ff");
    cAddressGenerator again;
    EXPECT_EQ(decodeAddress(encodeAddress(u"\u00e9", again)), u"i");
}

TEST(AddressCodec, AsciiRoundTripsAndIsFourTimesAsLong)
{
    const std::u16string addresses[] = {
        u"http://media.example:8080/news.asx",
        u"mms://media.example/live?x=1&y=2",
        u"rtsp://h/a b~!\"#$%'()*+,-./:;<=>?@[\\]^_`{|}",
        u"x",
    };
    for (const std::u16string& address : addresses) {
        const std::u16string encoded = encodeAddress(address);
        EXPECT_EQ(encoded.size(), address.size() * 4);
        for (char16_t c : encoded) {
            EXPECT_TRUE((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'));
        }
        EXPECT_EQ(decodeAddress(encoded), address);
    }
    // The process-wide generator moves on: the same address encodes
    // differently a second time yet decodes the same.
    const std::u16string first = encodeAddress(u"http://a/b");
    const std::u16string second = encodeAddress(u"http://a/b");
    EXPECT_NE(first, second);
    EXPECT_EQ(decodeAddress(first), decodeAddress(second));
}

TEST(AddressCodec, ProcessWideEncoderIsSafeFromSeveralThreads)
{
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&failures, t] {
            for (int i = 0; i < 2000; ++i) {
                if (decodeAddress(encodeAddress(u"http://host/stream")) != u"http://host/stream") {
                    ++failures[t];
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}
