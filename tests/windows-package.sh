#!/usr/bin/env bash
# Checks the Windows zip: one folder holding exactly what the build's
# manifest.txt lists; every DLL that any of them imports is in the zip or is a
# Windows system DLL; each library inside Qt's DLLs is the one its
# BUILDINFO.txt names; no file names a path of the build machine; the panel
# carries the icon, and the programs and the library carry the project's version.
# The zip's and the MSI's bills of materials pass CycloneDX's SCHEMA and name
# each file with the SHA-512 of the package's copy; so does the VEX, whose
# answers that rest on the programs' code still hold.
#   windows-package.sh ZIP OBJDUMP SOURCE_DIR BUILD_DIR VERSION COMPANY BUILDINFO SCHEMA
set -euo pipefail
zip=$1 objdump=$2 source=$3 build=$4 version=$5 company=$6 buildinfo=$7 schema=$8
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unzip -q "$zip" -d "$work"
status=0

top=$(basename "$zip" .zip)
[ "$(ls "$work")" = "$top" ] || { echo "the zip must hold the one folder $top"; exit 1; }
cd "$work/$top"

# What a scanner reads: each library's own version string, in the shipped
# DLLs. Each must be the version BUILDINFO.txt names, and each library
# BUILDINFO.txt names as linked in must show in some DLL. NAME|PATTERN, the
# pattern's first group the version; HarfBuzz's text is its bare version, so
# its pattern is the version named (double-conversion writes none).
declare -A named=()
while read -r name named_version; do named[$name]=$named_version; done < <(
    /usr/bin/python3 "$source/windows/recipe.py" read "$buildinfo" component name version)
harfbuzz=$(sed 's/\./\\./g' <<<"${named[harfbuzz]:-}")
markers="qt|^Qt ([0-9.]+) \\(x86_64
zlib|^ deflate ([0-9.]+) Copyright
libpng|^ ?libpng version ([0-9.]+)
pcre2|^([0-9]+\\.[0-9]+) [0-9]{4}-[0-9]{2}-[0-9]{2}\$
harfbuzz|^($harfbuzz)\$"
declare -A seen=()
while read -r dll; do
    text=$(strings -a "$dll")
    while IFS='|' read -r name pattern; do
        [ "$pattern" != '^()$' ] || continue
        for found in $(grep -E "$pattern" <<<"$text" | sed -E "s/$pattern.*/\1/" | sort -u); do
            echo "$dll: $name $found"
            seen[$name]=1
            if [ -z "${named[$name]:-}" ]; then
                echo "  BUILDINFO.txt names no $name"
                status=1
            elif [ "$found" != "${named[$name]}" ]; then
                echo "  BUILDINFO.txt names $name ${named[$name]}"
                status=1
            fi
        done
    done <<<"$markers"
done < <(find . -name '*.dll' | sed 's|^\./||' | LC_ALL=C sort)
while IFS='|' read -r name _; do
    if [ -n "${named[$name]:-}" ] && [ -z "${seen[$name]:-}" ]; then
        echo "BUILDINFO.txt names $name ${named[$name]}, but no DLL holds its version string"
        status=1
    fi
done <<<"$markers"

expected=$(/usr/bin/python3 "$source/scripts/manifest.py" "$build/manifest.txt" files | LC_ALL=C sort)
actual=$(find . -type f | sed 's|^\./||' | LC_ALL=C sort)
[ "$actual" = "$expected" ] || { diff <(echo "$expected") <(echo "$actual"); status=1; }
sbom() {
    /usr/bin/python3 "$source/scripts/sbom" check "$1.cdx.json" --schema "$schema" --tree "$2" \
        --manifest "$build/manifest.txt" || status=1
}
sbom "$zip" .
msiextract -C "$work/msi" "${zip%.zip}.msi" >/dev/null
sbom "${zip%.zip}.msi" "$(echo "$work"/msi/*)"
# The VEX: valid, and each CVE it names affects components of the packages'
# bills of materials. Where windows/vex.txt answers a CVE by what the programs
# do not call, they still do not.
/usr/bin/python3 "$source/scripts/sbom" check-vex "${zip%.zip}.vex.cdx.json" --schema "$schema" \
    --bom "${zip%.zip}".{zip,exe,msi}.cdx.json || status=1
while IFS=$'\t' read -r cve guard; do
    if found=$(cd "$source" && grep -rnE -- "$guard" src sim velorun); then
        echo "$cve: windows/vex.txt's answer rests on nothing matching $guard, but:"
        echo "$found"
        status=1
    fi
done < <(/usr/bin/python3 "$source/windows/recipe.py" guards)

# The notices hold the licences they name, and where Qt came from.
grep -q 'MIT License' LICENSE.txt
grep -q 'GNU LESSER GENERAL PUBLIC LICENSE' licenses/LGPL-3.txt
grep -q '^    source: qtbase-opensource-src ' licenses/Qt.txt
grep -q "^ambulon-$version-win64-sources.tar, " licenses/Qt.txt
grep -q 'GCC RUNTIME LIBRARY EXCEPTION' licenses/MinGW-w64-runtime.txt
grep -qi 'winpthreads' licenses/MinGW-w64-runtime.txt
# Every DLL not built here has a notice that names it.
while read -r dll; do
    [ "$dll" = velorun.dll ] || grep -rqF "${dll#*/}" licenses || { echo "no notice names $dll"; exit 1; }
done < <(find . -name '*.dll' | sed 's|^\./||')
for text in FTL Harfbuzz BSD-3-clause; do
    grep -q "^License: $text\$" licenses/Qt.txt || { echo "licenses/Qt.txt lacks the $text licence"; exit 1; }
done

# A console program, so that the trace line reaches the console.
grep -q 'Subsystem.*(Windows CUI)' <<<"$("$objdump" -p ambulon.exe)"

# Windows' own DLLs, as the system provides them.
system="advapi32 bcrypt comdlg32 crypt32 d3d11 dnsapi dwmapi dxgi gdi32 imm32 iphlpapi kernel32
msvcrt mpr netapi32 ole32 oleaut32 setupapi shell32 shlwapi user32 userenv uxtheme version
winmm winspool ws2_32 wtsapi32"
while read -r binary; do
    for dll in $("$objdump" -p "$binary" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
        lower=$(tr '[:upper:]' '[:lower:]' <<<"${dll%.*}")
        if [ -f "$dll" ] || grep -qw "$lower" <<<"$system"; then continue; fi
        echo "$binary imports $dll, which is neither in the zip nor a Windows DLL"
        status=1
    done
done < <(find . -name '*.exe' -o -name '*.dll')

# The version resource as Explorer's Properties show it: each name is a UTF-16
# string, its value the next one.
for binary in ambulon.exe treadmill-sim.exe velorun.dll; do
    strings=$(wrestool -x --raw --type=16 "$binary" | strings -e l -n 1)
    value() { awk -v name="$1" 'found { print; exit } $0 == name { found = 1 }' <<<"$strings"; }
    shown=
    for name in FileVersion ProductVersion ProductName CompanyName FileDescription LegalCopyright \
        OriginalFilename; do
        shown+="$name=$(value $name); "
    done
    echo "$binary: $shown"
    for expected in "FileVersion=$version;" "ProductVersion=$version;" "ProductName=Ambulon;" \
        "CompanyName=$company;" "OriginalFilename=$binary;" "LegalCopyright=Copyright " "FileDescription=Ambulon "; do
        grep -qF "$expected" <<<"$shown" || { echo "$binary: no $expected"; status=1; }
    done
done
# The icon Qt gives the panel's windows, with every size Windows asks for.
wrestool -x --type=14 --name=IDI_ICON1 ambulon.exe >"$work/icon.ico"
sizes=$(icotool -l "$work/icon.ico" | sed 's/.*--width=\([0-9]*\).*/\1/' | sort -n | tr '\n' ' ')
echo "ambulon.exe: IDI_ICON1 of $sizes px"
[ "$sizes" = "16 24 32 48 256 " ] || status=1

for path in "$source" "$build"; do
    if grep -rlF "$path" .; then
        echo "the files above name $path"
        status=1
    fi
done
echo "$(find . -type f | wc -l) files; every import resolves in the zip or in Windows"
exit "$status"
