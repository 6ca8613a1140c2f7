#pragma once
// Clips made at test time with the ffmpeg command, in a fresh temporary
// folder that goes away with the test.

#include <string>

class cTempFolder {
public:
    cTempFolder();
    ~cTempFolder();
    cTempFolder(const cTempFolder&) = delete;
    cTempFolder& operator=(const cTempFolder&) = delete;
    // Ends in '/'.
    const std::string& path() const { return mPath; }

private:
    std::string mPath;
};

struct cClipRecipe {
    int width = 320;
    int height = 240;
    int fps = 25;
    double seconds = 2.0;
    bool video = true;
    bool audio = true;
    // The upper half of the picture has this colour, the lower half the other.
    std::string topColour = "red";
    std::string bottomColour = "blue";
    // A small box that moves, so that a picture can be seen to change.
    bool movingBox = false;
    // The box's top edge, as a fraction of the height from the top; 0.875
    // runs it along the bottom rows.
    double boxTop = 0.25;
    // "mkv", "mp4", "ts" or "hls". An "hls" clip is a video-on-demand
    // playlist at the given path with its MPEG-TS segments beside it,
    // named after the playlist (name000.ts, name001.ts, ...).
    std::string container = "mkv";
    double segmentSeconds = 1.0; // "hls" only
    // "ts" only: the stream's timestamps start this late, so that a clip
    // appended to another of this length continues its time line.
    double timeOffset = 0.0;
};

// Writes the clip; false (with the reason on standard error) on failure.
bool makeClip(const std::string& path, const cClipRecipe& recipe);

// The content type to serve a clip with.
std::string contentTypeOf(const cClipRecipe& recipe);
