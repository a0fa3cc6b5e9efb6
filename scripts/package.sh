#!/usr/bin/env bash
# Builds the Debian package korvane-util_<version>_<arch>.deb and checks it:
# lintian (errors fail), the menu entry and the software-centre data against
# their validators, a manual page for every program, and every program of the
# unpacked package answering --version and --help without a display.
#
#   bash scripts/package.sh [BUILD_DIR]
#
# BUILD_DIR is build/package by default, a build of the programs alone. CI
# passes its own build directory, whose programs are then packaged as built.
# Installs what it needs when missing. Prints the package's path last.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-deps.sh dpkg-dev fakeroot file lintian desktop-file-utils appstream man-db

build=${1:-build/package}
if [ ! -f "$build/CMakeCache.txt" ]; then
    launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKFU_TESTS=OFF -DKFU_BENCH=OFF \
        "${launcher[@]}" >/dev/null
elif grep -q '^KFU_SANITIZE:BOOL=ON' "$build/CMakeCache.txt"; then
    echo "$build is a sanitizer build; its programs are not for a package." >&2
    exit 1
fi
cmake --build "$build" -j "$(nproc)"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=korvane-util_${version}_$(dpkg --print-architecture).deb
rm -f "$build"/korvane-util_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
[ -f "$build/$deb" ] || { echo "cpack made no $deb" >&2; exit 1; }
deb=$build/$deb

fail() {
    echo "Package check failed: $*" >&2
    exit 1
}

echo "== Package $deb"
dpkg-deb --field "$deb" Package Version Depends

# Dependencies come from the programs' libraries; a missing one means
# shlibdeps did not run.
dpkg-deb --field "$deb" Depends | grep -q 'libqt6widgets6' || fail "no dependency on the Qt libraries"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== lintian"
status=0
lintian --fail-on error --display-info --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1 || status=$?
grep -v '^running with root privileges' "$work/lintian" || true
[ "$status" -eq 0 ] || fail "lintian reports errors"

mkdir "$work/root"
dpkg-deb -x "$deb" "$work/root"

echo "== Menu entry and software-centre data"
desktop=("$work"/root/usr/share/applications/*.desktop)
metainfo=("$work"/root/usr/share/metainfo/*.metainfo.xml)
[ ${#desktop[@]} -eq 1 ] && [ -f "${desktop[0]}" ] || fail "not exactly one menu entry"
[ ${#metainfo[@]} -eq 1 ] && [ -f "${metainfo[0]}" ] || fail "not exactly one metainfo file"
desktop-file-validate "${desktop[0]}" || fail "desktop-file-validate"
# The screenshots are on the project's web site; the network is not asked.
appstreamcli validate --no-net "${metainfo[0]}" || fail "appstreamcli validate"
icon=$(sed -n 's/^Icon=//p' "${desktop[0]}")
[ -f "$work/root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon $icon"
for size in 16 22 24 32 48 64 128 256; do
    png=$work/root/usr/share/icons/hicolor/${size}x${size}/apps/$icon.png
    file -b "$png" | grep -q "PNG image data, $size x $size," || fail "icon $png is not ${size}x${size}"
done

echo "== Programs"
for program in "$work"/root/usr/bin/*; do
    name=$(basename "$program")
    page=$work/root/usr/share/man/man1/$name.1.gz
    [ -f "$page" ] || fail "$name has no manual page"
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man $name"
    [ -z "$warnings" ] || fail "manual page of $name: $warnings"
    grep -q "<binary>$name</binary>" "${metainfo[0]}" || fail "$name missing from the metainfo"
    # No display and no platform choice: both answers must come before the
    # window toolkit is touched.
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --version) ||
        fail "$name --version failed"
    case "$out" in
    "$name "*"$version"*) ;;
    *) fail "$name --version said '$out', not '$name $version'" ;;
    esac
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --help >"$work/help" ||
        fail "$name --help failed"
    grep -qi "usage:.*$name" "$work/help" || fail "$name --help printed no usage"
    echo "$out"
done

echo "Package ready: $deb"
