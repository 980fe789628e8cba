#!/usr/bin/env bash
# `cmake --install` puts the program, its desktop entry and its icon where a freedesktop desktop
# finds them, and the entry starts the installed program by name with that icon.
#   install_test.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d "${TMPDIR:-/tmp}/lmv-install-XXXXXX")
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "install_test: $*" >&2; exit 1; }
program=$prefix/bin/lm-vuzadivirur
entry=$prefix/share/applications/lm-vuzadivirur.desktop
icon=$prefix/share/icons/hicolor/scalable/apps/lm-vuzadivirur.svg

[ -x "$program" ] || fail "no program at $program"
cmp -s "$program" "$build/bin/lm-vuzadivirur" || fail "the installed program is not the one built"
[ -f "$entry" ] || fail "no desktop entry at $entry"
[ -f "$icon" ] || fail "no icon at $icon"
grep -qx 'Exec=lm-vuzadivirur' "$entry" || fail "the entry does not start lm-vuzadivirur"
grep -qx 'Icon=lm-vuzadivirur' "$entry" || fail "the entry does not name the icon"
grep -qx 'Name=LM Vuzadivirur' "$entry" || fail "the entry's name is not LM Vuzadivirur"
grep -q '<svg' "$icon" || fail "the icon is not an SVG picture"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$entry" || fail "the desktop entry does not validate"
fi
echo "install_test: program, desktop entry and icon installed"
