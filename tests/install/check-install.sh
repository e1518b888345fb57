#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks that the program, a valid desktop entry
# and the icon it names land where desktops look for them.
set -euo pipefail
build=${1:?usage: check-install.sh BUILD_DIR}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "FAIL: $*" >&2; exit 1; }
[[ -x "$prefix/bin/tavik" ]] || fail "no executable bin/tavik"
entry="$prefix/share/applications/tavik.desktop"
[[ -f "$entry" ]] || fail "no desktop entry"
desktop-file-validate "$entry" || fail "the desktop entry is not valid"
grep -qx 'Exec=tavik' "$entry" || fail "the entry does not start tavik"
icon=$(sed -n 's/^Icon=//p' "$entry")
[[ -f "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ]] || fail "no icon '$icon'"
echo "PASS: install"
