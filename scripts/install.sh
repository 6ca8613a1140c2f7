#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds the player and installs it for the
# user who runs this, without root: into ~/.local (or LUMIVEX_PREFIX), so
# that `lumivex` (~/.local/bin) and the desktop menu's entry work
# afterwards. Run it again to update.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${LUMIVEX_OUT:-$root/out}"
build="${LUMIVEX_BUILD:-$out/build}"
prefix="${LUMIVEX_PREFIX:-$HOME/.local}"

bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target lumivex lumivex-catalogue lumivex-server skin state_language
cmake --install "$build" --prefix "$prefix" >/dev/null

# A menu started from the desktop may not have ~/.local/bin on its PATH:
# the entry names the program by its full path.
entry="$prefix/share/applications/lumivex.desktop"
sed -i "s|^Exec=lumivex |Exec=$prefix/bin/lumivex |" "$entry"
if command -v update-desktop-database >/dev/null; then
  update-desktop-database "$prefix/share/applications" >/dev/null 2>&1 || true
fi

echo "install: lumivex is installed in $prefix/bin; start it from the desktop menu or with: $prefix/bin/lumivex"
case ":$PATH:" in
  *":$prefix/bin:"*) ;;
  *) echo "install: $prefix/bin is not on your PATH yet; it is after your next login, or add it now: export PATH=\"$prefix/bin:\$PATH\"" ;;
esac
