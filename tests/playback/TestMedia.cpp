#include "TestMedia.h"

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

cTempFolder::cTempFolder()
{
    char pattern[] = "/tmp/lumivex-playback-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made != nullptr) {
        mPath = std::string(made) + "/";
    }
}

cTempFolder::~cTempFolder()
{
    if (!mPath.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(mPath, ignored);
    }
}

namespace {

bool runCommand(std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "can't run %s\n", argv[0]);
        return false;
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) {
        return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

bool makeClip(const std::string& path, const cClipRecipe& recipe)
{
    const std::string size = std::to_string(recipe.width) + "x" + std::to_string(recipe.height);
    const std::string seconds = std::to_string(recipe.seconds);
    std::vector<std::string> args = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-y"};
    if (recipe.video) {
        std::string filter = "color=c=" + recipe.topColour + ":s=" + size + ":r=" + std::to_string(recipe.fps) +
                             ":d=" + seconds + ",drawbox=x=0:y=" + std::to_string(recipe.height / 2) +
                             ":w=" + std::to_string(recipe.width) + ":h=" + std::to_string(recipe.height / 2) +
                             ":color=" + recipe.bottomColour + ":t=fill";
        if (recipe.movingBox) {
            // A white box laid over the picture, crossing it every two
            // seconds. Overlay, not drawbox: drawbox's "t" is the box's
            // line thickness, not the time, so a box drawn there stands still.
            const std::string box =
                std::to_string(std::max(recipe.width / 8, 2)) + "x" + std::to_string(std::max(recipe.height / 8, 2));
            filter += "[picture];color=c=white:s=" + box + ":r=" + std::to_string(recipe.fps) +
                      "[box];[picture][box]overlay=x='mod(t*" + std::to_string(recipe.width / 2) + "," +
                      std::to_string(recipe.width) + ")':y=" + std::to_string(static_cast<int>(recipe.height * recipe.boxTop)) +
                      ":shortest=1[out0]";
        }
        args.insert(args.end(), {"-f", "lavfi", "-i", filter});
    }
    if (recipe.audio) {
        args.insert(args.end(), {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=" + seconds});
    }
    if (recipe.video) {
        args.insert(args.end(), {"-c:v", "libx264", "-preset", "ultrafast", "-tune", "zerolatency", "-pix_fmt",
                                 "yuv420p", "-g", std::to_string(recipe.fps)});
    }
    if (recipe.audio) {
        args.insert(args.end(), {"-c:a", "aac", "-b:a", "96k"});
    }
    if (recipe.container == "ts" && recipe.timeOffset > 0) {
        args.insert(args.end(), {"-output_ts_offset", std::to_string(recipe.timeOffset)});
    }
    if (recipe.container == "mp4") {
        args.insert(args.end(), {"-movflags", "+faststart"});
    }
    if (recipe.container == "hls") {
        const std::string stem = path.substr(0, path.rfind('.'));
        args.insert(args.end(), {"-f", "hls", "-hls_time", std::to_string(recipe.segmentSeconds), "-hls_list_size",
                                 "0", "-hls_playlist_type", "vod", "-hls_segment_filename", stem + "%03d.ts"});
    }
    args.insert(args.end(), {"-t", seconds, path});
    return runCommand(args);
}

std::string contentTypeOf(const cClipRecipe& recipe)
{
    if (recipe.container == "mp4") {
        return "video/mp4";
    }
    if (recipe.container == "ts") {
        return "video/mp2t";
    }
    if (recipe.container == "hls") {
        return "application/vnd.apple.mpegurl";
    }
    return "video/x-matroska";
}
