#!/usr/bin/env bash
# Installs every Debian package the project needs to build, run and test. Safe to run again.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ninja-build
  qt6-base-dev libqt6opengl6-dev qt6-l10n-tools qt6-tools-dev qt6-tools-dev-tools libgl-dev
  libpipewire-0.3-dev pipewire pipewire-bin wireplumber libyuv-dev
  dbus dbus-bin dbus-x11 xvfb xauth x11-utils libgl1-mesa-dri
  qt6-wayland weston  # native Wayland; the window tests on a headless compositor
  libgtest-dev libgmock-dev libbenchmark-dev
  gstreamer1.0-tools gstreamer1.0-pipewire gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev  # the network stream
  gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly gstreamer1.0-libav ffmpeg  # SRT, TS, x264; its clients
  clang libclang-rt-14-dev procps
  xdotool bc  # the system benchmark minimises the window and works out shares of a core
  imagemagick desktop-file-utils appstream  # the headless demo's screenshot; desktop entry and metainfo checks
  chromium firefox-esr xdg-desktop-portal xdg-desktop-portal-gtk  # the camera as browsers see it
  pipewire-v4l2  # the camera as V4L2 applications see it (pw-v4l2 ffmpeg)
)

# A decimal-comma locale, for the tests that check number formatting does not follow it.
ensure_test_locale() {
  locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$' && return 0
  local sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then ensure_test_locale; exit 0; fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
ensure_test_locale
