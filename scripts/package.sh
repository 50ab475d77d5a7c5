#!/usr/bin/env bash
# Builds the Debian packages into build-package/ and checks them: mistvale (the program), mistvale-sim
# (the device simulator) and their -dbgsym packages (the debug information of the stripped binaries).
# Checked: the files each installs, the desktop entry and AppStream metadata (validated), dependencies
# taken from the libraries the programs link, and lintian without errors. Prints the packages' paths.
#
#   scripts/package.sh            then, as root:   apt-get install ./build-package/mistvale_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

"./scripts/deps.sh"

build=build-package
jobs=$(nproc 2>/dev/null || echo 2)
rm -f "$build"/mistvale*.deb "$build"/mistvale*.ddeb
# With debug information: a crash report names the program's own functions with file and line.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMISTVALE_TESTS=OFF -DMISTVALE_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target mistvale mistvale-reporter mistvale-icons mistvale-sim \
    mistvale-package-docs >/dev/null
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/mistvale_*.deb)
sim=$(ls "$build"/mistvale-sim_*.deb)

fail() { echo "package check failed: $*" >&2; exit 1; }
files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/mistvale ./usr/bin/mistvale-reporter ./usr/share/applications/com.vantorel.Mistvale.desktop \
         ./usr/share/metainfo/com.vantorel.Mistvale.metainfo.xml \
         ./usr/share/icons/hicolor/scalable/apps/mistvale.svg ./usr/lib/systemd/user/mistvale-headless.service \
         ./usr/share/doc/mistvale/copyright ./usr/share/doc/mistvale/changelog.Debian.gz; do
    grep -qx "$f" <<<"$files" || fail "$f is missing"
done
grep -q "mistvale-sim" <<<"$files" && fail "the simulator belongs to mistvale-sim"
simFiles=$(dpkg-deb -c "$sim" | awk '{print $6}')
for f in ./usr/bin/mistvale-sim ./usr/share/doc/mistvale-sim/copyright ./usr/share/doc/mistvale-sim/changelog.Debian.gz; do
    grep -qx "$f" <<<"$simFiles" || fail "$f is missing from mistvale-sim"
done
for name in mistvale mistvale-sim; do
    ls "$build"/${name}-dbgsym_*.ddeb >/dev/null 2>&1 || fail "no ${name}-dbgsym package"
done
grep -q "<" <<<"$(dpkg-deb -f "$deb" Maintainer)" || fail "the Maintainer has no address"
for size in 16 24 32 48 64 128 256; do
    grep -qx "./usr/share/icons/hicolor/${size}x${size}/apps/mistvale.png" <<<"$files" ||
        fail "the ${size}x${size} icon is missing"
done
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libmodbus5 libpugixml1v5 libudev1 libcurl4 libzip4 libssl3 libdw1; do
    grep -q "$lib" <<<"$depends" || fail "no dependency on $lib (Depends: $depends)"
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
dpkg-deb -x "$deb" "$tmp"
desktop-file-validate "$tmp/usr/share/applications/com.vantorel.Mistvale.desktop" || fail "desktop entry"
appstreamcli validate --no-net --explain "$tmp/usr/share/metainfo/com.vantorel.Mistvale.metainfo.xml" >/dev/null ||
    fail "AppStream metadata"
file "$tmp/usr/bin/mistvale" | grep -q "not stripped" && fail "mistvale is not stripped"
# Errors fail the build; warnings and informational tags are printed.
lintian --fail-on error --suppress-tags-from-file /dev/null "$deb" "$sim" || fail "lintian found errors"
echo "$deb"
echo "$sim"
