#!/usr/bin/env bash
# Installs the Debian packages the project needs, in groups. Safe to run again.
#   scripts/setup.sh [GROUP...]    default: all of them
#     demo      build and run the application, and the headless demo
#     tests     build and run the test suite and the benchmarks (and the de_DE locale)
#     browsers  the camera as Chromium and Firefox ESR see it
#     fuzz      the fuzzer's compiler and runtime
set -euo pipefail

demo=(
  build-essential cmake pkg-config ninja-build
  qt6-base-dev libqt6opengl6-dev qt6-l10n-tools qt6-tools-dev qt6-tools-dev-tools libgl-dev
  libpipewire-0.3-dev pipewire pipewire-bin wireplumber libyuv-dev
  dbus dbus-bin dbus-x11 xvfb xauth x11-utils libgl1-mesa-dri
  qt6-wayland  # native Wayland
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev  # the network stream
  gstreamer1.0-plugins-base gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly  # its elements: SRT, TS, x264
  imagemagick  # the headless demo's screenshot
)
tests=(
  libgtest-dev locales  # locales: the de_DE locale below
  weston  # the window tests on a headless compositor
  gstreamer1.0-tools gstreamer1.0-pipewire gstreamer1.0-plugins-good gstreamer1.0-libav ffmpeg  # clients
  xdotool bc  # the system benchmark minimises the window and works out shares of a core
  desktop-file-utils appstream  # desktop entry and metainfo checks
  lintian man-db  # the Debian package's checks
  pipewire-v4l2  # the camera as V4L2 applications see it (pw-v4l2 ffmpeg)
)
browsers=(chromium firefox-esr xdg-desktop-portal xdg-desktop-portal-gtk)
# Clang alone only recommends its sanitizer and libFuzzer runtime; this follows its version.
fuzz=(clang libclang-rt-dev)

groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=(demo tests browsers fuzz)
packages=()
for group in "${groups[@]}"; do
  case $group in
    demo) packages+=("${demo[@]}") ;;
    tests) packages+=("${tests[@]}") ;;
    browsers) packages+=("${browsers[@]}") ;;
    fuzz) packages+=("${fuzz[@]}") ;;
    *) echo "setup.sh: no group '$group' (demo, tests, browsers, fuzz)" >&2; exit 2 ;;
  esac
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# A decimal-comma locale, for the tests that check number formatting does not follow it.
if [[ " ${groups[*]} " == *" tests "* ]] && ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  $sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
