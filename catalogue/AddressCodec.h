#pragma once
// Stream addresses are stored in the catalogue and in favorites.xml as four
// hexadecimal digits per character. Decoding keeps only the low seven bits
// of each group, so every decoded address is plain ASCII; encoding hides
// each character under a pseudo-random multiple of 128 that decoding drops.

#include <cstdint>
#include <string>

// The encoder's private linear congruential generator:
// state = state * 214013 + 2531011 (mod 2^32), one step per character,
// r = ((state >> 15) XOR state) mod 128.
class cAddressGenerator {
public:
    explicit cAddressGenerator(uint32_t state = 0) : mState(state) {}

    // Advances the state once and returns the next r, 0 to 127.
    unsigned next();
    uint32_t state() const { return mState; }

private:
    uint32_t mState; // owned by whoever holds the generator
};

// The clear address: one character per whole group of four; trailing
// characters that do not fill a group are ignored. The address ends at the
// first code 0; a group that is not four hexadecimal digits counts as code 0.
std::u16string decodeAddress(const std::u16string& encoded);

// Four lower-case hexadecimal digits per UTF-16 code unit, drawing r from
// the process-wide generator (which starts at state 0 when the program
// starts). Safe from any thread.
std::u16string encodeAddress(const std::u16string& address);
// The same with a generator of the caller's own.
std::u16string encodeAddress(const std::u16string& address, cAddressGenerator& generator);
