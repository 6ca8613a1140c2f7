#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds the player and starts it on the demo:
# a catalogue server with a dozen generated channels (scripts/demo.sh) runs
# on the player's default address, 127.0.0.1:8391, for as long as the player
# does, so a fresh user needs no settings at all.
#
# When a catalogue server already answers there, the player uses it and no
# demo is started. When something else answers there, the script says so
# and stops: the player would only fail to fetch its catalogue.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${LUMIVEX_OUT:-$root/out}"
host=127.0.0.1
port=8391
address="$host:$port"

bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$out/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$out/build" -j "$(nproc)" --target lumivex lumivex-catalogue lumivex-server

if [ -z "${DISPLAY:-}" ]; then
  echo "run: no display; start the player from a desktop session (DISPLAY is not set)" >&2
  exit 1
fi

answers() { (exec 3<>"/dev/tcp/$host/$port") 2>/dev/null; }
# A catalogue server answers a decimal number at /dbversion.php.
is_catalogue_server() {
  curl --silent --fail --max-time 2 "http://$address/dbversion.php" 2>/dev/null | grep -Eq '^[[:space:]]*[0-9]+'
}

server=""
stop_server() {
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
}
# The demo server goes with the script: at the player's exit, on Ctrl-C and
# on a termination signal.
trap stop_server EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

if answers; then
  if ! is_catalogue_server; then
    echo "run: $address answers but is not a catalogue server (no number at /dbversion.php); stop what listens there and run again" >&2
    exit 1
  fi
  echo "run: using the catalogue server already answering on $address" >&2
else
  bash "$root/scripts/demo.sh" "$out/build" "$out/demo" "$address"
  # setpriv: the server also ends when this script is killed outright.
  pdeath=()
  command -v setpriv >/dev/null && pdeath=(setpriv --pdeathsig TERM --)
  "${pdeath[@]}" "$out/build/bin/lumivex-server" --root "$out/demo" --host "$host" --port "$port" >/dev/null &
  server=$!
  for _ in $(seq 1 50); do
    is_catalogue_server && break
    if ! kill -0 "$server" 2>/dev/null; then
      echo "run: the demo catalogue server did not start on $address" >&2
      exit 1
    fi
    sleep 0.1
  done
  if ! is_catalogue_server; then
    echo "run: the demo catalogue server does not answer on $address" >&2
    exit 1
  fi
  echo "run: demo catalogue server on http://$address/ (stops with the player)" >&2
fi

status=0
"$out/build/bin/lumivex" || status=$?
exit "$status"
