#include "scenes/FailureText.h"

#include "app/Words.h"
#include "kestrel/Exception.h"
#include "kestrel/Unicode.h"

namespace {

// Each "%N" of the interface text replaced by its value; a value whose
// mark a translation left out follows the text.
std::string filledIn(const char16_t* name, const std::vector<std::string>& values)
{
    std::string text = shownText(name);
    for (size_t index = 0; index < values.size(); ++index) {
        const std::string mark = "%" + std::to_string(index + 1);
        const size_t at = text.find(mark);
        if (at == std::string::npos) {
            text += " " + values[index];
        } else {
            text.replace(at, mark.size(), values[index]);
        }
    }
    return text;
}

} // namespace

std::string failureReasonText(const sPlayFailure& failure)
{
    switch (failure.kind) {
    case sPlayFailure::KindHostUnknown:
        return shownText(u"failure_host_unknown");
    case sPlayFailure::KindRefused:
        return shownText(u"failure_refused");
    case sPlayFailure::KindNoAnswer:
        return shownText(u"failure_no_answer");
    case sPlayFailure::KindHttpStatus:
        return filledIn(u"failure_http_status", {std::to_string(failure.httpStatus)});
    case sPlayFailure::KindSecureConnection:
        return shownText(u"failure_secure_connection");
    case sPlayFailure::KindNotAllowed:
        return shownText(u"failure_not_allowed");
    case sPlayFailure::KindUnsupportedFormat:
        return failure.format.empty() ? shownText(u"failure_unsupported_format")
                                      : filledIn(u"failure_missing_format", {failure.format});
    case sPlayFailure::KindStreamEnded:
        return shownText(u"failure_stream_ended");
    case sPlayFailure::KindNotOpened:
        break;
    }
    return shownText(u"failure_not_opened");
}

std::string channelFailureText(const sChannelFailure& failure)
{
    std::string channel;
    try {
        channel = kestrel::toUtf8(failure.channel);
    } catch (const kestrel::cException&) {
        // A name that is not well-formed text is left out rather than
        // stopping the toolkit's conversion.
    }
    return filledIn(u"play_failed", {channel, failureReasonText(failure.failure)});
}
