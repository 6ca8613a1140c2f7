#!/usr/bin/env bash
# Plays generated clips through Lumivex's player (bench/PlaybackBench.cpp),
# GStreamer's own player and mpv, all from one loopback HTTP server on the
# same display, and prints one table of the figures.
#
#   bench/run-playback-bench.sh <build dir> [seconds per clip]
#
# Needs a display (DISPLAY set, e.g. Xvfb). Installs mpv, gst-play-1.0 and
# GStreamer's X11 video sink (Debian packages mpv,
# gstreamer1.0-plugins-base-apps, gstreamer1.0-x) when missing.
set -euo pipefail

build=${1:?usage: $0 <build dir> [seconds per clip]}
seconds=${2:-20}
bench="$build/bin/playback_bench"
[ -x "$bench" ] || { echo "no $bench: build the playback_bench target" >&2; exit 2; }
[ -n "${DISPLAY:-}" ] || { echo "DISPLAY is not set" >&2; exit 2; }
export LIBGL_ALWAYS_SOFTWARE=1

missing=()
command -v mpv >/dev/null || missing+=(mpv)
command -v gst-play-1.0 >/dev/null || missing+=(gstreamer1.0-plugins-base-apps)
gst-inspect-1.0 ximagesink >/dev/null 2>&1 || missing+=(gstreamer1.0-x)
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
fi

work=$(mktemp -d /tmp/lumivex-bench-XXXXXX)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# name width height fps. Each clip is a second longer than the time every
# player plays it, so that none of them reaches the end.
clips=(
  "320x240p25 320 240 25"
  "1280x720p25 1280 720 25"
  "1280x720p50 1280 720 50"
  "1280x720p60 1280 720 60"
  "1920x1080p30 1920 1080 30"
)
for clip in "${clips[@]}"; do
  read -r name width height fps <<<"$clip"
  ffmpeg -hide_banner -loglevel error -y \
    -f lavfi -i "testsrc2=size=${width}x${height}:rate=${fps}:duration=$((seconds + 1))" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$((seconds + 1))" \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p -g "$fps" -c:a aac -b:a 128k \
    "$work/$name.mkv"
done

# A loopback server on a port the system picks.
python3 - "$work" >"$work/port" 2>/dev/null <<'PY' &
import functools, http.server, sys
handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=sys.argv[1])
handler.log_message = lambda *args: None
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
print(server.server_address[1], flush=True)
server.serve_forever()
PY
server_pid=$!
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(head -1 "$work/port")

# CPU seconds (user + system) and peak memory of one peer run.
peer() {
  /usr/bin/time -f "%U %S %M" -o "$work/time" "$@" >/dev/null 2>&1 || true
  # The last line: a peer stopped by timeout adds a line about its status.
  tail -1 "$work/time" | awk '{ printf "%.2f %.1f", $1 + $2, $3 / 1024 }'
}

printf '%-13s %8s %8s %8s %8s %8s %8s %8s %8s %8s %8s %8s %7s %7s\n' \
  clip decoded uploaded replaced waiting rss_mb drift_s cpu_s first_ms gst_cpu mpv_cpu gst_rss x_gst x_mpv
run() {
  local label=$1 name=$2; shift 2
  local url="http://127.0.0.1:$port/$name.mkv"
  local ours
  ours=$("$bench" "$url" "$seconds" "$@" 2>/dev/null | tail -1)
  local decoded uploaded replaced=0 waiting rss drift cpu first
  eval "$(echo "$ours" | tr ' ' '\n' | sed -n 's/^\([a-z_]*\)=\(.*\)$/\1=\2/p' |
    sed 's/^max_waiting/waiting/; s/^peak_rss_mb/rss/; s/^drift_s/drift/; s/^cpu_s/cpu/; s/^first_frame_ms/first/')"
  # gst-play-1.0's automatic sinks crash here while probing (in a DirectFB
  # library), so it gets the X11 video sink and a discarding audio sink, as
  # our player ends up with on a machine without sound.
  read -r gst_cpu gst_rss <<<"$(peer timeout -s INT "$seconds" gst-play-1.0 --no-interactive -q \
    --videosink=ximagesink --audiosink=fakesink "$url")"
  read -r mpv_cpu _ <<<"$(peer mpv --no-config --really-quiet --ao=null --length="$seconds" "$url")"
  printf '%-13s %8s %8s %8s %8s %8s %8s %8s %8s %8s %8s %8s %7.2f %7.2f\n' \
    "$label" "$decoded" "$uploaded" "$replaced" "$waiting" "$rss" "$drift" "$cpu" "$first" "$gst_cpu" "$mpv_cpu" "$gst_rss" \
    "$(awk -v a="$cpu" -v b="$gst_cpu" 'BEGIN { print (b > 0 ? a / b : 0) }')" \
    "$(awk -v a="$cpu" -v b="$mpv_cpu" 'BEGIN { print (b > 0 ? a / b : 0) }')"
}
for clip in "${clips[@]}"; do
  read -r name _ <<<"$clip"
  run "$name" "$name"
done
# The main loop kept busy 200 ms out of every 250 ms.
run "720p50-stall" "1280x720p50" 200 250
