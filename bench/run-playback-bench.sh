#!/usr/bin/env bash
# Plays generated clips through Lumivex's player (bench/PlaybackBench.cpp)
# and, on the same clips from one loopback HTTP server on the same display,
# through the peers: the decode floor (playbin with discarding sinks, synced
# to the clock), gst-play with the X11 image sink and with the OpenGL sink,
# mpv with its X11 output and with its default output. Prints two tables:
# what Lumivex's frame path did, and each peer's CPU seconds and peak
# resident size with Lumivex's CPU as a multiple of the peer's.
#
#   bench/run-playback-bench.sh <build dir> [seconds per clip]
#
# CLIPS="1280x720p25 1920x1080p30" limits the run to those clips. Needs a
# display (DISPLAY set, e.g. Xvfb), mpv, gst-play-1.0 (Debian packages mpv,
# gstreamer1.0-plugins-base-apps) and the sinks of gstreamer1.0-x and
# gstreamer1.0-gl; a peer whose program or sink is missing shows "-".
set -euo pipefail

build=${1:?usage: $0 <build dir> [seconds per clip]}
seconds=${2:-20}
bench="$build/bin/playback_bench"
[ -x "$bench" ] || { echo "no $bench: build the playback_bench target" >&2; exit 2; }
[ -n "${DISPLAY:-}" ] || { echo "DISPLAY is not set" >&2; exit 2; }
export LIBGL_ALWAYS_SOFTWARE=1

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
if [ -n "${CLIPS:-}" ]; then
  wanted=()
  for clip in "${clips[@]}"; do
    read -r name _ <<<"$clip"
    [[ " $CLIPS " == *" $name "* ]] && wanted+=("$clip")
  done
  clips=("${wanted[@]}")
fi
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

# CPU seconds (user + system) and peak resident size (MB) of one peer run,
# or "- -" when the peer cannot run here.
peer() {
  /usr/bin/time -f "%U %S %M" -o "$work/time" "$@" >/dev/null 2>&1 || true
  # The last line: a peer stopped by timeout adds a line about its status.
  tail -1 "$work/time" | awk '{ printf "%.2f %.1f", $1 + $2, $3 / 1024 }'
}
have_sink() { gst-inspect-1.0 "$1" >/dev/null 2>&1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == "-" || b <= 0) print "-"; else printf "%.2f", a / b }'; }

# The peers, in table order. peer_command sets cmd to the peer's command
# line for an address, or fails when the peer cannot run here.
peer_labels=(floor gst-x gst-gl mpv-x11 mpv-dflt)
peer_command() {
  local url=$1
  case $2 in
    floor)
      have_sink fakesink || return 1
      cmd=(timeout -s INT "$seconds" gst-launch-1.0 -q playbin "uri=$url"
        "video-sink=fakesink sync=true" "audio-sink=fakesink sync=true") ;;
    # gst-play-1.0's automatic sinks crash here while probing (in a DirectFB
    # library), so it gets named video sinks and a discarding audio sink,
    # as our player ends up with on a machine without sound.
    gst-x)
      command -v gst-play-1.0 >/dev/null && have_sink ximagesink || return 1
      cmd=(timeout -s INT "$seconds" gst-play-1.0 --no-interactive -q --videosink=ximagesink
        --audiosink=fakesink "$url") ;;
    gst-gl)
      command -v gst-play-1.0 >/dev/null && have_sink glimagesink || return 1
      cmd=(timeout -s INT "$seconds" gst-play-1.0 --no-interactive -q --videosink=glimagesink
        --audiosink=fakesink "$url") ;;
    mpv-x11)
      command -v mpv >/dev/null || return 1
      cmd=(mpv --no-config --really-quiet --ao=null --vo=x11 --length="$seconds" "$url") ;;
    mpv-dflt)
      command -v mpv >/dev/null || return 1
      cmd=(mpv --no-config --really-quiet --ao=null --length="$seconds" "$url") ;;
  esac
}

ours_table="$work/ours"
peers_table="$work/peers"
printf '%-13s %7s %8s %8s %7s %7s %7s %8s %6s %7s\n' \
  clip decoded uploaded replaced waiting drift_s first_ms rss_mb cpu_s cpu/fr_ms >"$ours_table"
{
  printf '%-13s %6s' clip cpu_s
  for p in "${peer_labels[@]}"; do printf ' | %-8s %6s %6s %5s' peer cpu_s rss_mb x; done
  printf '\n'
} >"$peers_table"

run() {
  local label=$1 name=$2 with_peers=$3; shift 3
  local url="http://127.0.0.1:$port/$name.mkv"
  local ours
  ours=$("$bench" "$url" "$seconds" "$@" 2>/dev/null | tail -1)
  local decoded=0 uploaded=0 replaced=0 waiting=0 rss=0 drift=0 cpu=0 first=0
  eval "$(echo "$ours" | tr ' ' '\n' | sed -n 's/^\([a-z_]*\)=\(.*\)$/\1=\2/p' |
    sed 's/^max_waiting/waiting/; s/^peak_rss_mb/rss/; s/^drift_s/drift/; s/^cpu_s/cpu/; s/^first_frame_ms/first/')"
  printf '%-13s %7s %8s %8s %7s %7s %7s %8s %6s %7s\n' \
    "$label" "$decoded" "$uploaded" "$replaced" "$waiting" "$drift" "$first" "$rss" "$cpu" \
    "$(awk -v c="$cpu" -v n="$uploaded" 'BEGIN { printf "%.2f", (n > 0 ? c * 1000 / n : 0) }')" >>"$ours_table"
  [ "$with_peers" = peers ] || return 0
  printf '%-13s %6s' "$label" "$cpu" >>"$peers_table"
  local p peer_cpu peer_rss
  for p in "${peer_labels[@]}"; do
    if peer_command "$url" "$p"; then
      read -r peer_cpu peer_rss <<<"$(peer "${cmd[@]}")"
    else
      peer_cpu=- peer_rss=-
    fi
    printf ' | %-8s %6s %6s %5s' "$p" "$peer_cpu" "$peer_rss" "$(ratio "$cpu" "$peer_cpu")" >>"$peers_table"
  done
  printf '\n' >>"$peers_table"
}
for clip in "${clips[@]}"; do
  read -r name _ <<<"$clip"
  run "$name" "$name" peers
done
# The main loop kept busy 200 ms out of every 250 ms.
if [ -z "${CLIPS:-}" ] || [[ " $CLIPS " == *" 1280x720p50 "* ]]; then
  run "720p50-stall" "1280x720p50" ours 200 250
fi
echo "Lumivex's frame path (cpu/fr_ms: CPU milliseconds per uploaded frame)"
cat "$ours_table"
echo
echo "Peers: CPU seconds, peak resident MB, x = Lumivex's CPU / the peer's (same clip, same run)"
cat "$peers_table"
