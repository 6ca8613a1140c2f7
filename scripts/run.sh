#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds the player and starts it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${LUMIVEX_OUT:-$root/out}"

bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$out/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$out/build" -j "$(nproc)" --target lumivex

if [ -z "${DISPLAY:-}" ]; then
  echo "run: no display; start the player from a desktop session (DISPLAY is not set)" >&2
  exit 1
fi
exec "$out/build/bin/lumivex"
