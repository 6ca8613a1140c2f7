#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds the player and starts it. When no
# catalogue server answers on the player's default address, a demo server
# with a small generated catalogue is started for the session.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${LUMIVEX_OUT:-$root/out}"

bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$out/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$out/build" -j "$(nproc)" --target lumivex lumivex-catalogue lumivex-server

if [ -z "${DISPLAY:-}" ]; then
  echo "run: no display; start the player from a desktop session (DISPLAY is not set)" >&2
  exit 1
fi

if ! (exec 3<>/dev/tcp/127.0.0.1/8391) 2>/dev/null; then
  bash "$root/scripts/demo.sh" "$out/build" "$out/demo"
  "$out/build/bin/lumivex-server" --root "$out/demo" --port 8391 >/dev/null &
  server=$!
  trap 'kill "$server" 2>/dev/null || true' EXIT
  for _ in $(seq 1 50); do
    (exec 3<>/dev/tcp/127.0.0.1/8391) 2>/dev/null && break
    sleep 0.1
  done
fi
"$out/build/bin/lumivex"
