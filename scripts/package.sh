#!/usr/bin/env bash
# Builds the Debian package build/lm-vuzadivirur_VERSION_ARCH.deb from a Release build of its own
# (build-deb/, without the tests) and prints the package's path as its last line.
#   scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
umask 022  # the package's files and folders get their modes from the staging folder

name=lm-vuzadivirur
# Debian's hardening flags, as a package built by dpkg-buildpackage gets them.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=Release -DLMV_BUILD_TESTS=OFF \
  -DLMV_WERROR=ON -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build build-deb -j"$(nproc)" >/dev/null
root=$PWD/build-deb/package-root
rm -rf "$root"
DESTDIR=$root cmake --install build-deb >/dev/null
strip --remove-section=.comment --remove-section=.note --strip-unneeded "$root/usr/bin/$name"

# The version is CMake's project version, as the program itself reports it.
version=$(build-deb/bin/$name --version | cut -d' ' -f2)
arch=$(dpkg --print-architecture)
maintainer="The LM Vuzadivirur developers <maintainers@users.noreply.c-seed-750b5070.example>"
released=$(sed -n "s/.*<release version=\"$version\" date=\"\([0-9-]*\)\".*/\1/p" \
  app/$name.metainfo.xml)
[ -n "$released" ] || { echo "❌ app/$name.metainfo.xml has no release $version" >&2; exit 1; }

doc=$root/usr/share/doc/$name
mkdir -p "$doc"
gzip -9n "$root/usr/share/man/man1/$name.1"
printf '%s (%s) stable; urgency=medium\n\n  * Release %s; what changed: %s\n\n -- %s  %s\n' \
  "$name" "$version" "$version" "/usr/share/metainfo/$name.metainfo.xml" "$maintainer" \
  "$(LC_ALL=C date -R -u -d "$released")" | gzip -9n >"$doc/changelog.gz"
{
  printf 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n'
  printf 'Upstream-Name: LM Vuzadivirur\n\nFiles: *\nCopyright: %s\nLicense: MIT\n' \
    "$(sed -n 's/^Copyright (c) //p' LICENSE)"
  sed '1,/^Copyright/d' LICENSE | sed '/./,$!d; s/^$/./; s/^/ /'
} >"$doc/copyright"

# Depends from the libraries the program links; dpkg-shlibdeps wants a debian/control to exist.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/debian" && touch "$work/debian/control"
depends=$(cd "$work" && dpkg-shlibdeps -O "$root/usr/bin/$name" 2>/dev/null |
  sed -n 's/^shlibs:Depends=//p')

mkdir "$root/DEBIAN"
(cd "$root" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
cat >"$root/DEBIAN/control" <<EOF
Package: $name
Version: $version
Architecture: $arch
Maintainer: $maintainer
Installed-Size: $(du -sk --exclude=DEBIAN "$root" | cut -f1)
Depends: $depends
Recommends: pipewire, qt6-wayland, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-plugins-bad, gstreamer1.0-plugins-ugly
Suggests: xdg-desktop-portal
Section: video
Priority: optional
Description: live preview and relay of the frames of the visualizer Lumetra
 LM Vuzadivirur takes every frame Lumetra renders the moment it is written,
 shows it in a live preview window with its status, relays it to other
 applications on the machine as a PipeWire camera, can stream it over the
 network as H.264 over SRT, and saves the frame on screen as a PNG image.
EOF
mkdir -p build
deb=build/${name}_${version}_${arch}.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$PWD/$deb"
