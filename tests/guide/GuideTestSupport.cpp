#include "GuideTestSupport.h"

#include <ctime>
#include <sstream>
#include <stdexcept>

#include <sqlite3.h>

#include "guide/GuideText.h"

namespace guidetest {

std::string at(int minutesFromNow, const std::string& offset)
{
    const time_t when = static_cast<time_t>(Now + minutesFromNow * 60);
    struct tm utc {};
    gmtime_r(&when, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &utc);
    return offset.empty() ? std::string(text) : std::string(text) + " " + offset;
}

std::string channel(const std::string& id, const std::vector<std::string>& names)
{
    std::string text = "<channel id=\"" + id + "\">";
    for (const std::string& name : names) {
        text += "<display-name lang=\"en\">" + name + "</display-name>";
    }
    return text + "</channel>\n";
}

std::string programme(const std::string& channel, const std::string& start, const std::string& stop,
                      const std::string& title, const std::string& inner)
{
    std::string text = "<programme start=\"" + start + "\"";
    if (!stop.empty()) {
        text += " stop=\"" + stop + "\"";
    }
    return text + " channel=\"" + channel + "\"><title lang=\"en\">" + title + "</title>" + inner +
           "</programme>\n";
}

std::string guide(const std::string& entries)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE tv SYSTEM \"xmltv.dtd\">\n"
           "<tv generator-info-name=\"test\">\n" +
           entries + "</tv>\n";
}

std::string clock(int64_t utc)
{
    const time_t when = static_cast<time_t>(utc);
    struct tm parts {};
    gmtime_r(&when, &parts);
    char text[16];
    std::strftime(text, sizeof text, "%dT%H:%M", &parts);
    return text;
}

std::vector<std::string> installedRows(const std::string& guidePath)
{
    sqlite3* connection = nullptr;
    std::vector<std::string> rows;
    if (sqlite3_open_v2(guidePath.c_str(), &connection, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(connection);
        throw std::runtime_error("cannot open " + guidePath);
    }
    sqlite3_stmt* select = nullptr;
    if (sqlite3_prepare_v2(connection, "select channel, start, stop, title from programmes order by channel, start;",
                           -1, &select, nullptr) != SQLITE_OK) {
        sqlite3_close(connection);
        throw std::runtime_error("not a guide: " + guidePath);
    }
    while (sqlite3_step(select) == SQLITE_ROW) {
        rows.push_back(std::string(reinterpret_cast<const char*>(sqlite3_column_text(select, 0))) + " " +
                       clock(sqlite3_column_int64(select, 1)) + "-" + clock(sqlite3_column_int64(select, 2)) + " " +
                       reinterpret_cast<const char*>(sqlite3_column_text(select, 3)));
    }
    sqlite3_finalize(select);
    sqlite3_close(connection);
    return rows;
}

} // namespace guidetest
