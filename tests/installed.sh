#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the installed panel:
# it starts, and binds each entry point (tests/entrypoints.h) of the library
# installed beside it; its desktop entry and AppStream metadata pass their
# validators. Then builds the Debian package and checks what it holds and its
# Qt runtime dependencies.
set -euo pipefail
build=$1
work=$(mktemp -d)
panel=
trap '[ -n "$panel" ] && kill "$panel" 2>/dev/null; rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
library=$(readlink -f "$work/prefix/bin/ambulon" | xargs dirname)/libvelorun.so
test -x "$work/prefix/bin/ambulon" && test -f "$library" && test -x "$work/prefix/bin/treadmill-sim"
# The desktop entry is named by the AppStream ID its metadata launches.
metainfo=$(echo "$work"/prefix/share/metainfo/*.metainfo.xml)
id=$(basename "$metainfo" .metainfo.xml)
desktop="$work/prefix/share/applications/$id.desktop"
desktop-file-validate "$desktop"
appstreamcli validate --no-net "$metainfo"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo"
icon=$(sed -n 's/^Icon=//p' "$desktop")
test -f "$work/prefix/share/icons/hicolor/scalable/apps/$icon.svg"

entry_points=$(grep -o 'X(VELORUN_[A-Za-z0-9]*' "$(dirname "$0")/entrypoints.h" | cut -c3- | sort)
count=$(wc -l <<<"$entry_points")

# glibc reports each symbol it binds, those looked up at run time included.
cd "$work"
: >"$work/bindings.log"
LD_DEBUG=bindings QT_QPA_PLATFORM=offscreen "$work/prefix/bin/ambulon" 2>"$work/bindings.log" &
panel=$!
for _ in $(seq 100); do
    bound=$(grep -o "to $library .*symbol \`VELORUN_[A-Za-z0-9]*" "$work/bindings.log" |
        sed 's/.*`//' | sort -u || true)
    [ "$bound" = "$entry_points" ] && break
    sleep 0.1
done
kill -0 "$panel" # still running
echo "installed panel bound $(grep -c . <<<"$bound") of the $count entry points of $library"
test "$bound" = "$entry_points"

cpack --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null
depends=$(dpkg-deb -f "$work"/package/ambulon_*.deb Depends)
echo "package depends: $depends"
# Each Qt library the panel links to, by the package that holds it here (Debian
# 13 renamed them for 64-bit time: libqt5core5t64 where Debian 12 has libqt5core5a).
for lib in Core Gui Widgets Network; do
    file=$(ldd "$build/bin/ambulon" | awk -v l="libQt5$lib.so.5" '$1 == l { print $3 }')
    needed=$(dpkg-query -S "$(readlink -f "$file")" | cut -d: -f1)
    grep -qw "$needed" <<<"$depends" || { echo "package does not depend on $needed" >&2; exit 1; }
done
contents=$(dpkg-deb -c "$work"/package/ambulon_*.deb)
for file in "${library#"$work/prefix/"}" share/icons/hicolor/scalable/apps/ambulon.svg \
    share/doc/ambulon/copyright share/doc/ambulon/changelog.gz share/man/man1/ambulon.1.gz \
    share/man/man1/treadmill-sim.1.gz "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml"; do
    grep -q " \./usr/$file\$" <<<"$contents" || { echo "package lacks /usr/$file" >&2; exit 1; }
done
# Stripped binaries, and no maintainer scripts: the private library needs no ldconfig.
dpkg-deb -x "$work"/package/ambulon_*.deb "$work/unpacked"
for binary in usr/bin/treadmill-sim "usr/${library#"$work/prefix/"}" "$(dirname "usr/${library#"$work/prefix/"}")/ambulon"; do
    ! readelf -S "$work/unpacked/$binary" | grep -q ' \.symtab\| \.debug_info' || { echo "$binary is not stripped" >&2; exit 1; }
done
! dpkg-deb -I "$work"/package/ambulon_*.deb | grep -qw 'postinst\|postrm' || { echo "package has maintainer scripts" >&2; exit 1; }
# The labels' face comes with the package.
grep -q 'fonts-liberation2' <<<"$depends"
