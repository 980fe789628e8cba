#!/usr/bin/env bash
# Installs the build into a throwaway prefix and checks what a desktop finds there: the program
# answers --version and --help, and the desktop entry and AppStream metainfo pass their validators.
#   check-install.sh BUILD_DIR
set -euo pipefail
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null
"$prefix/bin/lm-vuzadivirur" --version | grep -Eq '^lm-vuzadivirur [0-9]+\.[0-9]+'
"$prefix/bin/lm-vuzadivirur" --help | grep -q -- '--version'
test -f "$prefix/share/icons/hicolor/scalable/apps/lm-vuzadivirur.svg"
desktop-file-validate "$prefix/share/applications/lm-vuzadivirur.desktop"
appstreamcli validate --no-net --explain "$prefix/share/metainfo/lm-vuzadivirur.metainfo.xml"
