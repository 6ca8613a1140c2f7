#pragma once
// Why a channel does not play, as data: the step of the open that failed
// and the kind of failure, with the HTTP status or the missing format's
// name where the kind has one. The player and the playlist fetch report
// it; the scene that shows it turns it into the user's language. The log
// line keeps the framework's own words; this is what the viewer is told.
//
// Plain data, any thread.

#include <string>

class cFetchFailure;

struct sPlayFailure {
    enum eStep {
        StepPlaylist,   // the ASX playlist fetch
        StepAddress,    // the address rule (StreamAddress)
        StepMediaGraph, // building the graph
        StepConnect,    // connecting and finding the streams
        StepStreams,    // the decoding chains
        StepStart,      // starting the graph
        StepPlaying,    // a stream that played and could not be got back
    };
    enum eKind {
        KindNotOpened,         // any other cause
        KindHostUnknown,       // the host name could not be resolved
        KindRefused,           // the connection was refused
        KindNoAnswer,          // no answer in time
        KindHttpStatus,        // the server answered httpStatus
        KindSecureConnection,  // the secure connection failed
        KindNotAllowed,        // the address rule refused the address
        KindUnsupportedFormat, // nothing installed decodes it (format: what is missing)
        KindStreamEnded,       // the stream ended before it could play
    };

    eStep step = StepConnect;
    eKind kind = KindNotOpened;
    int httpStatus = 0; // KindHttpStatus only
    std::string format; // KindUnsupportedFormat: the framework's name for what is missing; may be empty

    bool operator==(const sPlayFailure&) const = default;
};

// The kind a failed fetch stands for (its status with it).
sPlayFailure playFailureOfFetch(const cFetchFailure& failure, sPlayFailure::eStep step);

// The names of steps and kinds, for test messages and debug lines.
const char* playFailureStepName(sPlayFailure::eStep step);
const char* playFailureKindName(sPlayFailure::eKind kind);
