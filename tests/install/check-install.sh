#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks that the program, a valid desktop entry
# and the icon it names, valid AppStream metainfo and a man page without warnings land where
# desktops, software centres and man look for them.
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
metainfo=$(find "$prefix/share/metainfo" -name '*.metainfo.xml' 2>/dev/null)
[[ -n "$metainfo" ]] || fail "no AppStream metainfo"
# No homepage until the project has one of its own: newer validators warn of that, and that is
# the one warning allowed.
if ! report=$(appstreamcli validate --no-net "$metainfo" 2>&1); then
    ! grep -E '^[EW]: ' <<<"$report" | grep -vq ': url-homepage-missing$' || fail "$report"
fi
grep -q "<launchable type=\"desktop-id\">$(basename "$entry")</launchable>" "$metainfo" ||
    fail "the metainfo does not launch $(basename "$entry")"
page="$prefix/share/man/man1/tavik.1"
[[ -f "$page" ]] || fail "no man page"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
[[ -z "$warnings" ]] || fail "man page warnings: $warnings"

# `make run` asks for the packages that building and running need, and those are none of the
# tests', the package's or the benchmarks' tools.
source=$(dirname "$0")/../..
[[ $(make -n -C "$source" run | grep install-deps) == "scripts/install-deps run" ]] || fail "make run"
overlap=$(comm -12 <("$source/scripts/install-deps" --list run | sort) \
    <("$source/scripts/install-deps" --list test deb bench | sort))
[[ -z "$overlap" ]] || fail "install-deps run installs what only the tests need: $overlap"
# A versioned name (clang-14, libclang-rt-14-dev) exists on one release only; the distribution's
# unversioned default is on every release the README names.
versioned=$("$source/scripts/install-deps" --list run test deb bench | grep -E -- '-[0-9]+(\.[0-9]+)*(-|$)' || true)
[[ -z "$versioned" ]] || fail "install-deps names a versioned package: $versioned"
echo "PASS: install"
