#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the installed panel:
# it starts, and binds each entry point (velorun.h lists them) of the library
# installed beside it; its desktop entry and AppStream metadata pass their
# validators. Then builds the Debian package and checks that it holds what the
# build's manifest.txt lists, depends on the Qt libraries the panel uses, and
# has a bill of materials beside it that CycloneDX's SCHEMA accepts and that
# names each of its files with the SHA-512 of its copy in the package.
#   installed.sh BUILD_DIR SCHEMA
set -euo pipefail
# Checks read a command's whole output before grep -q: grep stops at its first
# match, and under pipefail a writer still writing would die of SIGPIPE and
# turn the check's outcome to chance.
build=$1 schema=$2
tests=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

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

cd "$work"
QT_QPA_PLATFORM=offscreen "$tests/bound-entry-points" "$library" "$work/prefix/bin/ambulon"

cpack --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null
depends=$(dpkg-deb -f "$work"/package/ambulon_*.deb Depends)
echo "package depends: $depends"
# Each Qt library the panel links to, by the package that holds it here (Debian
# 13 renamed them for 64-bit time: libqt5core5t64 where Debian 12 has libqt5core5a).
for file in $(ldd "$build/bin/ambulon" | awk '$1 ~ /^libQt5/ { print $3 }'); do
    needed=$(dpkg-query -S "$(readlink -f "$file")" | cut -d: -f1)
    grep -qw "$needed" <<<"$depends" || { echo "package does not depend on $needed" >&2; exit 1; }
done
# Every file and link the package holds, and nothing else.
held=$(dpkg-deb -c "$work"/package/ambulon_*.deb | awk '$1 !~ /^d/ { sub(/^\.\/usr\//, "", $6); print $6 }' | LC_ALL=C sort)
listed=$(/usr/bin/python3 "$tests/../scripts/manifest.py" "$build/manifest.txt" files link | LC_ALL=C sort)
[ "$held" = "$listed" ] || { echo "the package holds other files than manifest.txt lists:" >&2; diff <(echo "$listed") <(echo "$held") >&2; exit 1; }
# Stripped binaries, and no maintainer scripts: the private library needs no ldconfig.
dpkg-deb -x "$work"/package/ambulon_*.deb "$work/unpacked"
/usr/bin/python3 "$tests/../scripts/sbom" check "$(echo "$work"/package/ambulon_*.deb.cdx.json)" --schema "$schema" \
    --tree "$work/unpacked" --manifest "$build/manifest.txt"
for binary in $(/usr/bin/python3 "$tests/../scripts/manifest.py" "$build/manifest.txt" ours); do
    ! grep -q ' \.symtab\| \.debug_info' <<<"$(readelf -S "$work/unpacked/usr/$binary")" || { echo "$binary is not stripped" >&2; exit 1; }
done
! grep -qw 'postinst\|postrm' <<<"$(dpkg-deb -I "$work"/package/ambulon_*.deb)" || { echo "package has maintainer scripts" >&2; exit 1; }
# The labels' face comes with the package.
grep -q 'fonts-liberation2' <<<"$depends"
