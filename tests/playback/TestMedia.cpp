#include "TestMedia.h"

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

bool makeClip(const std::string& path, const cClipSpec& spec)
{
    const std::string size = std::to_string(spec.width) + "x" + std::to_string(spec.height);
    const std::string seconds = std::to_string(spec.seconds);
    std::vector<std::string> args = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-y"};
    if (spec.video) {
        std::string filter = "color=c=" + spec.topColour + ":s=" + size + ":r=" + std::to_string(spec.fps) +
                             ":d=" + seconds + ",drawbox=x=0:y=" + std::to_string(spec.height / 2) +
                             ":w=" + std::to_string(spec.width) + ":h=" + std::to_string(spec.height / 2) +
                             ":color=" + spec.bottomColour + ":t=fill";
        if (spec.movingBox) {
            filter += ",drawbox=x='mod(t*" + std::to_string(spec.width / 2) + "," + std::to_string(spec.width) +
                      ")':y=" + std::to_string(spec.height / 4) + ":w=" + std::to_string(spec.width / 8) +
                      ":h=" + std::to_string(spec.height / 8) + ":color=white:t=fill";
        }
        args.insert(args.end(), {"-f", "lavfi", "-i", filter});
    }
    if (spec.audio) {
        args.insert(args.end(), {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=" + seconds});
    }
    if (spec.video) {
        args.insert(args.end(), {"-c:v", "libx264", "-preset", "ultrafast", "-tune", "zerolatency", "-pix_fmt",
                                 "yuv420p", "-g", std::to_string(spec.fps)});
    }
    if (spec.audio) {
        args.insert(args.end(), {"-c:a", "aac", "-b:a", "96k"});
    }
    if (spec.container == "mp4") {
        args.insert(args.end(), {"-movflags", "+faststart"});
    }
    args.insert(args.end(), {"-t", seconds, path});
    return runCommand(args);
}

std::string contentTypeOf(const cClipSpec& spec)
{
    if (spec.container == "mp4") {
        return "video/mp4";
    }
    if (spec.container == "ts") {
        return "video/mp2t";
    }
    return "video/x-matroska";
}
