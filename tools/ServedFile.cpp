#include "tools/ServedFile.h"

#include <algorithm>
#include <cctype>
#include <utility>

eRangeKind parseRange(const std::string& header, uint64_t size, cByteRange& range)
{
    const std::string prefix = "bytes=";
    if (header.compare(0, prefix.size(), prefix) != 0) {
        return eRangeKind::Whole;
    }
    const std::string rangeText = header.substr(prefix.size());
    const size_t dash = rangeText.find('-');
    if (dash == std::string::npos || rangeText.find(',') != std::string::npos) {
        return eRangeKind::Whole;
    }
    const std::string firstText = rangeText.substr(0, dash);
    const std::string lastText = rangeText.substr(dash + 1);
    const auto number = [](const std::string& text, uint64_t& value) {
        if (text.empty() || text.size() > 18 ||
            !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; })) {
            return false;
        }
        value = std::stoull(text);
        return true;
    };
    uint64_t first = 0;
    uint64_t last = 0;
    if (firstText.empty()) {
        uint64_t suffix = 0;
        if (!number(lastText, suffix)) {
            return eRangeKind::Whole;
        }
        if (suffix == 0 || size == 0) {
            return eRangeKind::Unsatisfiable;
        }
        range.first = suffix >= size ? 0 : size - suffix;
        range.last = size - 1;
        return eRangeKind::Part;
    }
    if (!number(firstText, first)) {
        return eRangeKind::Whole;
    }
    if (lastText.empty()) {
        last = size == 0 ? 0 : size - 1;
    } else if (!number(lastText, last) || last < first) {
        return eRangeKind::Whole;
    }
    if (first >= size) {
        return eRangeKind::Unsatisfiable;
    }
    range.first = first;
    range.last = std::min(last, size - 1);
    return eRangeKind::Part;
}

std::string contentTypeFor(const std::string& fileName)
{
    static const std::pair<const char*, const char*> types[] = {
        {"asx", "video/x-ms-asf"},    {"asf", "video/x-ms-asf"},     {"wmv", "video/x-ms-wmv"},
        {"wma", "audio/x-ms-wma"},    {"mp4", "video/mp4"},          {"m4v", "video/mp4"},
        {"mkv", "video/x-matroska"},  {"webm", "video/webm"},        {"ts", "video/mp2t"},
        {"m3u8", "application/vnd.apple.mpegurl"},                   {"ogg", "video/ogg"},
        {"ogv", "video/ogg"},         {"mp3", "audio/mpeg"},         {"txt", "text/plain; charset=utf-8"},
        {"html", "text/html; charset=utf-8"},                        {"xml", "application/xml"},
        {"png", "image/png"},         {"jpg", "image/jpeg"},         {"jpeg", "image/jpeg"},
    };
    const size_t slash = fileName.rfind('/');
    const size_t dot = fileName.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return "application/octet-stream";
    }
    std::string extension = fileName.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const auto& [known, type] : types) {
        if (extension == known) {
            return type;
        }
    }
    return "application/octet-stream";
}

