#!/usr/bin/env bash
# Checks the Windows zip: one folder holding exactly the panel, its library,
# the simulator, the Qt and MinGW runtime DLLs they load, the Qt plugins,
# README.txt, the project's licence and the third-party notices; every DLL
# that any of them imports is in the zip or is a Windows system DLL; no file
# names a path of the build machine; the panel carries the icon, and the
# programs and the library carry the project's version.
#   windows-package.sh ZIP OBJDUMP SOURCE_DIR BUILD_DIR VERSION COMPANY
set -euo pipefail
zip=$1 objdump=$2 source=$3 build=$4 version=$5 company=$6
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unzip -q "$zip" -d "$work"

top=$(basename "$zip" .zip)
[ "$(ls "$work")" = "$top" ] || { echo "the zip must hold the one folder $top"; exit 1; }
cd "$work/$top"
expected="LICENSE.txt
Qt5Core.dll
Qt5Gui.dll
Qt5Network.dll
Qt5Widgets.dll
README.txt
ambulon.exe
libgcc_s_seh-1.dll
libstdc++-6.dll
libwinpthread-1.dll
licenses/GPL-3.txt
licenses/LGPL-3.txt
licenses/MinGW-w64-runtime.txt
licenses/Qt.txt
platforms/qwindows.dll
styles/qwindowsvistastyle.dll
treadmill-sim.exe
velorun.dll"
actual=$(find . -type f | sed 's|^\./||' | LC_ALL=C sort)
[ "$actual" = "$expected" ] || { diff <(echo "$expected") <(echo "$actual"); exit 1; }

# The notices hold the licences they name, and where Qt came from.
grep -q 'MIT License' LICENSE.txt
grep -q 'GNU LESSER GENERAL PUBLIC LICENSE' licenses/LGPL-3.txt
grep -q '^    source: qtbase-opensource-src ' licenses/Qt.txt
grep -q 'GCC RUNTIME LIBRARY EXCEPTION' licenses/MinGW-w64-runtime.txt
grep -qi 'winpthreads' licenses/MinGW-w64-runtime.txt
# Every DLL not built here has a notice that names it.
while read -r dll; do
    [ "$dll" = velorun.dll ] || grep -rqF "${dll#*/}" licenses || { echo "no notice names $dll"; exit 1; }
done < <(find . -name '*.dll' | sed 's|^\./||')
for text in Zlib libpng FTL Harfbuzz BSD-3-clause; do
    grep -q "^License: $text\$" licenses/Qt.txt || { echo "licenses/Qt.txt lacks the $text licence"; exit 1; }
done

# A console program, so that the trace line reaches the console.
grep -q 'Subsystem.*(Windows CUI)' <<<"$("$objdump" -p ambulon.exe)"

# Windows' own DLLs, as the system provides them.
system="advapi32 bcrypt comdlg32 crypt32 d3d11 dnsapi dwmapi dxgi gdi32 imm32 iphlpapi kernel32
msvcrt mpr netapi32 ole32 oleaut32 setupapi shell32 shlwapi user32 userenv uxtheme version
winmm winspool ws2_32 wtsapi32"
status=0
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
