#!/usr/bin/env bash
# The README's install command, for a user without root: scripts/install.sh
# into a fresh home's ~/.local, on the build tree the tests use. The
# installed lumivex answers, finds its files, and the menu entry starts it
# by its full path.
set -euo pipefail
root="$1"
build="$2"
home="$(mktemp -d "${TMPDIR:-/tmp}/lumivex-install-XXXXXX")"
trap 'rm -rf "$home"' EXIT

HOME="$home" LUMIVEX_BUILD="$build" bash "$root/scripts/install.sh" >"$home/install.log" 2>&1 || {
  cat "$home/install.log"
  echo "install-script-test: scripts/install.sh failed" >&2
  exit 1
}
fail() { echo "install-script-test: $*" >&2; exit 1; }
prefix="$home/.local"
[ -x "$prefix/bin/lumivex" ] || fail "no $prefix/bin/lumivex"
version="$(HOME="$home" "$prefix/bin/lumivex" --version)" || fail "the installed lumivex does not answer --version"
grep -q "lumivex" <<<"$version" || fail "unexpected --version: $version"
for file in lib/lumivex/skin/back-button.png lib/lumivex/language/english.xml bin/lumivex-catalogue \
    share/applications/lumivex.desktop; do
  [ -e "$prefix/$file" ] || fail "missing $prefix/$file"
done
grep -qx "Exec=$prefix/bin/lumivex %U" "$prefix/share/applications/lumivex.desktop" ||
  fail "the menu entry does not start $prefix/bin/lumivex: $(grep '^Exec=' "$prefix/share/applications/lumivex.desktop")"
grep -q "lumivex is installed in $prefix/bin" "$home/install.log" || fail "the script did not say where it installed"
echo "install-script-test: installed and answering in $prefix"
