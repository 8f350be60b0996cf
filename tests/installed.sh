#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the installed panel:
# it starts, and binds each entry point (tests/entrypoints.h) of the library
# installed beside it.
# Then builds the Debian package and checks its Qt runtime dependencies.
set -euo pipefail
build=$1
work=$(mktemp -d)
panel=
trap '[ -n "$panel" ] && kill "$panel" 2>/dev/null; rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
library="$work/prefix/lib/ambulon/libvelorun.so"
test -x "$work/prefix/bin/ambulon" && test -f "$library" && test -x "$work/prefix/bin/treadmill-sim"
desktop="$work/prefix/share/applications/ambulon.desktop"
icon=$(sed -n 's/^Icon=//p' "$desktop")
test -f "$work/prefix/share/icons/hicolor/scalable/apps/$icon.svg"

entry_points=$(grep -o 'X(VELORUN_[A-Za-z0-9]*' "$(dirname "$0")/entrypoints.h" | cut -c3- | sort)
count=$(wc -l <<<"$entry_points")

# glibc reports each symbol it binds, those looked up at run time included.
cd "$work"
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
depends=$(dpkg-deb -f "$work"/package/*.deb Depends)
echo "package depends: $depends"
# Each Qt library the panel links to, by the package that holds it here (Debian
# 13 renamed them for 64-bit time: libqt5core5t64 where Debian 12 has libqt5core5a).
for lib in Core Gui Widgets Network; do
    file=$(ldd "$build/bin/ambulon" | awk -v l="libQt5$lib.so.5" '$1 == l { print $3 }')
    needed=$(dpkg-query -S "$(readlink -f "$file")" | cut -d: -f1)
    grep -qw "$needed" <<<"$depends" || { echo "package does not depend on $needed" >&2; exit 1; }
done
contents=$(dpkg-deb -c "$work"/package/*.deb)
grep -q './usr/lib/ambulon/libvelorun.so' <<<"$contents"
grep -q './usr/share/icons/hicolor/scalable/apps/ambulon.svg' <<<"$contents"
# The labels' face comes with the package.
grep -q 'fonts-liberation2' <<<"$depends"
