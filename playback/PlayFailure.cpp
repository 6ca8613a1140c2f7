#include "playback/PlayFailure.h"

#include "fetch/Fetch.h"

sPlayFailure playFailureOfFetch(const cFetchFailure& failure, sPlayFailure::eStep step)
{
    sPlayFailure result;
    result.step = step;
    switch (failure.reason()) {
    case cFetchFailure::ReasonHostUnknown:
        result.kind = sPlayFailure::KindHostUnknown;
        break;
    case cFetchFailure::ReasonRefused:
        result.kind = sPlayFailure::KindRefused;
        break;
    case cFetchFailure::ReasonNoAnswer:
        result.kind = sPlayFailure::KindNoAnswer;
        break;
    case cFetchFailure::ReasonStatus:
        result.kind = sPlayFailure::KindHttpStatus;
        result.httpStatus = failure.status();
        break;
    case cFetchFailure::ReasonSecure:
        result.kind = sPlayFailure::KindSecureConnection;
        break;
    case cFetchFailure::ReasonOther:
        result.kind = sPlayFailure::KindNotOpened;
        break;
    }
    return result;
}

const char* playFailureStepName(sPlayFailure::eStep step)
{
    switch (step) {
    case sPlayFailure::StepPlaylist:
        return "playlist";
    case sPlayFailure::StepAddress:
        return "address";
    case sPlayFailure::StepMediaGraph:
        return "media graph";
    case sPlayFailure::StepConnect:
        return "connect";
    case sPlayFailure::StepStreams:
        return "streams";
    case sPlayFailure::StepStart:
        return "start";
    case sPlayFailure::StepPlaying:
        return "playing";
    }
    return "?";
}

const char* playFailureKindName(sPlayFailure::eKind kind)
{
    switch (kind) {
    case sPlayFailure::KindNotOpened:
        return "not opened";
    case sPlayFailure::KindHostUnknown:
        return "host unknown";
    case sPlayFailure::KindRefused:
        return "refused";
    case sPlayFailure::KindNoAnswer:
        return "no answer";
    case sPlayFailure::KindHttpStatus:
        return "HTTP status";
    case sPlayFailure::KindSecureConnection:
        return "secure connection";
    case sPlayFailure::KindNotAllowed:
        return "not allowed";
    case sPlayFailure::KindUnsupportedFormat:
        return "unsupported format";
    case sPlayFailure::KindStreamEnded:
        return "stream ended";
    }
    return "?";
}
