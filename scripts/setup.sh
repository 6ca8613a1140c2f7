#!/usr/bin/env bash
# Installs every Debian 12 package the project needs to build, run and test.
# Does nothing when all of them are present; uses sudo when not root.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  # toolkit, media framework and libraries
  libclutter-1.0-dev libx11-dev libglib2.0-dev
  # the X server's own screen saver, suspended while a channel shows
  libxss-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-plugins-ugly gstreamer1.0-libav gstreamer1.0-tools
  libpoco-dev libsqlite3-dev sqlite3 libsigc++-2.0-dev libsdl2-dev zlib1g-dev
  # the programme guide's streaming XML reader
  libexpat1-dev
  # https for channel lists and catalogue servers: the system's certificates
  ca-certificates
  # display for tests, software OpenGL, fonts
  xvfb xauth libgl1-mesa-dri x11-utils xdotool imagemagick fonts-dejavu-core
  # the X core fonts that the error box draws its text with
  xfonts-base
  # renders the skin from its SVG sources
  librsvg2-bin
  # tests and test media
  googletest libgtest-dev libgmock-dev ffmpeg curl openssl
  # a private session bus for the screen-saver tests
  dbus-daemon
  # stream kinds: RTSP client and server library (the tests serve RTSP)
  gstreamer1.0-rtsp libgstrtspserver-1.0-dev
  # the playback benchmark's peers (bench/run-playback-bench.sh)
  mpv gstreamer1.0-plugins-base-apps gstreamer1.0-x gstreamer1.0-gl
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
