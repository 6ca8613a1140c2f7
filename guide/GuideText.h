#pragma once
// Small conversions the guide needs at its edges: XMLTV's time stamps, the
// keys by which a catalogue channel finds its guide channel, and a clock
// time in the user's time zone for the interface.

#include <cstdint>
#include <optional>
#include <string>

// An XMLTV time, "YYYYMMDDhhmmss +hhmm": the seconds may be left out, the
// offset written "+hhmm", "+hh:mm" or "Z", with or without a blank before
// it. A time without an offset is UTC, as XMLTV says.
struct cXmltvTime {
    int64_t utc = 0;        // seconds since 1970-01-01 00:00 UTC
    bool hadOffset = false; // false: read as UTC
};
// Nothing when the text is not such a time (a date out of range included).
std::optional<cXmltvTime> parseXmltvTime(const std::string& text);

// The UTC time as XMLTV writes it, "YYYYMMDDhhmmss +0000" (what guides
// made by the program's own tests and benchmark carry); empty for a time
// the C library cannot break down.
std::string formatXmltvTime(int64_t utc);

// Seconds since 1970 of a civil date and time in UTC; the fields are not
// checked.
int64_t utcSeconds(int year, int month, int day, int hour, int minute, int second);

// The key by which names are compared: lower case, Latin accented letters
// without their accents (Latin-1 and Latin Extended-A; ß as "ss", æ as "ae"
// and so on), and no blanks, punctuation or symbols. Letters and digits of
// other scripts stay as they are. Malformed UTF-8 bytes are left out, and
// so are the quality marks at the end (withoutQualityMarks): "Télé-Ciné 1
// HD" and "tele cine1" give the same key.
std::string guideNameKey(const std::string& utf8);
// The name without the quality and variant marks that lists and guides
// add at its end ("HD", "FHD", "UHD", "SD", "4K", "720p", "(1080i)", any
// "[...]" note such as "[Geo-blocked]"), which guideNameKey leaves out:
// "Named Channel HD (720p)" matches "Named Channel". "+1" names another
// channel and stays. A name that is nothing but marks stays as it is.
std::string withoutQualityMarks(const std::string& name);

// An identifier without regard to ASCII case (tvg-id and channel id).
std::string foldGuideId(const std::string& id);

// The UTC time as the user's local "HH:MM" (24 hours).
std::string formatLocalClock(int64_t utc);

// The text cut to at most maxBytes without splitting a UTF-8 sequence.
void cutUtf8(std::string& text, size_t maxBytes);
