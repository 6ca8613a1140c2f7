#pragma once
// Small XMLTV guides written by the tests, and a look at the rows a
// refresh installed.

#include <cstdint>
#include <string>
#include <vector>

#include "../catalogue/TestSupport.h"

namespace guidetest {

// 2024-03-10 12:00 UTC: the "now" of every test.
inline constexpr int64_t Now = 1710072000;

// An XMLTV time of the test day ("YYYYMMDDhhmmss +0000") shifted by the
// given minutes from Now.
std::string at(int minutesFromNow, const std::string& offset = "+0000");

// <channel id=...> with its display-names.
std::string channel(const std::string& id, const std::vector<std::string>& names);
// <programme> with a title (and stop when not empty).
std::string programme(const std::string& channel, const std::string& start, const std::string& stop,
                      const std::string& title, const std::string& inner = "");
// The whole document around the entries.
std::string guide(const std::string& entries);

using testsupport::gzip;

// "channel start-stop title" of every programme of an installed guide,
// in channel and start order; times as UTC "ddThh:mm".
std::vector<std::string> installedRows(const std::string& guidePath);
std::string clock(int64_t utc);

} // namespace guidetest
