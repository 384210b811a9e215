#!/usr/bin/env bash
# Makes the Debian package from the build folder as `cpack -G DEB` does, unpacks
# it, and checks what an installation gets: the programs run from the unpacked
# tree, the desktop entry is valid, the recorder's unit is clean for systemd.
# Usage: check_package.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cd "$build"
cpack -G DEB -B "$work/out" > "$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/out/zelmar_"${version}"-*_"$(dpkg --print-architecture)".deb 2> /dev/null | head -n 1)
[ -n "$deb" ] || { ls "$work/out"; fail "no zelmar_${version}-*.deb"; }
echo "package: $(basename "$deb")"

# Depends: the linked libraries as dpkg-shlibdeps found them, and the Qt
# plug-ins that no linker sees.
depends=$(dpkg-deb -f "$deb" Depends)
for dep in libmodbus5 libqt6core6 libqt6widgets6 libqt6sql6 libqt6sql6-sqlite libqt6sql6-psql \
           qt6-qpa-plugins; do
    grep -Eq "(^|, )$dep( |,|$)" <<< "$depends" || fail "Depends lacks $dep: $depends"
done

# Debian's own checks of the package: no errors (warnings are printed).
lintian --fail-on error "$deb" > "$work/lintian.log" 2>&1 ||
    { cat "$work/lintian.log"; fail "lintian"; }
grep -q . "$work/lintian.log" && sed 's/^/lintian: /' "$work/lintian.log"
grep -Eq "(^|, )fonts-liberation2( |,|$)" <<< "$depends" || fail "Depends lacks fonts-liberation2"

root="$work/root"
dpkg-deb -x "$deb" "$root"
doc=usr/share/doc/zelmar
[ "$(gzip -dc "$root/$doc/changelog.Debian.gz" | head -n 1)" = "zelmar ($(dpkg-deb -f "$deb" Version)) stable; urgency=medium" ] ||
    fail "changelog.Debian.gz does not name version $version"
# Every picture the README links to is shipped beside it.
for picture in $(grep -oE '(src="|\]\()docs/[^")]*\.png' "$root/$doc/README.md" | sed -E 's/^(src="|\]\()//'); do
    [ -f "$root/$doc/$picture" ] || fail "the README's picture $picture is not shipped"
done
for f in usr/bin/zelmar usr/bin/zelmar-sim usr/lib/systemd/system/zelmar-recorder.service \
         usr/share/applications/zelmar.desktop usr/share/icons/hicolor/scalable/apps/zelmar.svg \
         usr/share/doc/zelmar/README.md usr/share/doc/zelmar/copyright \
         usr/share/zelmar/zelmar-autostart.desktop; do
    [ -e "$root/$f" ] || fail "the package lacks /$f"
done
[ -x "$root/usr/bin/zelmar" ] && [ -x "$root/usr/bin/zelmar-sim" ] || fail "programs not executable"

# The unpacked tool names its version without a display.
out=$(env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY timeout 20 "$root/usr/bin/zelmar" --version) ||
    fail "zelmar --version exited $?"
grep -q "$version" <<< "$out" || fail "zelmar --version printed '$out', not $version"
env -u QT_QPA_PLATFORM timeout 20 "$root/usr/bin/zelmar-sim" --help > /dev/null || fail "zelmar-sim --help"

desktop-file-validate "$root/usr/share/applications/zelmar.desktop" || fail "desktop entry"
desktop-file-validate "$root/usr/share/zelmar/zelmar-autostart.desktop" || fail "autostart entry"

# systemd checks the unit against a root holding the system's own units and the
# unpacked program; any word it prints (an unknown key, a bad value) fails.
sysroot="$work/sysroot"
mkdir -p "$sysroot/usr/lib/systemd" "$sysroot/usr/bin"
cp -a /lib/systemd/system "$sysroot/usr/lib/systemd/"
cp "$root/usr/lib/systemd/system/zelmar-recorder.service" "$sysroot/usr/lib/systemd/system/"
cp "$root/usr/bin/zelmar" "$sysroot/usr/bin/"
verify=$(systemd-analyze --root="$sysroot" verify /usr/lib/systemd/system/zelmar-recorder.service 2>&1) ||
    { echo "$verify"; fail "systemd-analyze verify"; }
[ -z "$verify" ] || { echo "$verify"; fail "systemd-analyze verify warned"; }
unit="$root/usr/lib/systemd/system/zelmar-recorder.service"
for line in DynamicUser=yes SupplementaryGroups=dialout StateDirectory=zelmar ProtectSystem=strict \
            ProtectHome=yes NoNewPrivileges=yes PrivateTmp=yes "ExecStart=/usr/bin/zelmar --record"; do
    grep -q "^$line" "$unit" || fail "the unit lacks $line"
done
echo "package ok"
