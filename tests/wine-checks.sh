#!/usr/bin/env bash
# The shipped Windows build under Wine, run through tests/wine-run --unix
# (WINEPREFIX and DISPLAY are set, and everything ends with the run):
#   wine-checks.sh e2e ZIP LINUX_BUILD LAYOUT_EXE  the zip unpacked into a clean
#       folder, its panel driven by the Linux end-to-end test against the Linux
#       simulator
#   wine-checks.sh planted ZIP PLANT_DLL  a velorun.dll planted in the folder the
#       panel starts in is never loaded: Wine's own loader trace (+loaddll) says
#       which one was
#   wine-checks.sh installer EXE MANIFEST SCHEMA CA  silent install of a
#       signed installer (no import library, a Start-menu entry that points at
#       the installed panel, the files the installer's bill of materials names,
#       with their SHA-512, an uninstaller signed by CA), the panel started
#       from the installed folder, silent uninstall leaving nothing behind
#   wine-checks.sh upgrade|msi OLD_DIR NEW VERSION STAND_IN LAB [MANIFEST]
#       upgrades, all silent, with the NSIS installers or with msiexec /qn,
#       from the two older packages in OLD_DIR (0.0.1/ambulon-0.0.1-win64.exe
#       or .msi, packed as 0.1.0 was, and 0.0.2/..., packed as NEW is):
#       - from each, with LAB put in place of velorun.dll after the older
#         install: the upgrade (and an MSI repair of every file) keeps LAB
#         byte for byte, the upgraded panel loads it, and the removal leaves
#         LAB alone in its folder, nothing else;
#       - from 0.0.2 as it was installed (its stand-in one byte longer than
#         STAND_IN, and obsolete.txt): one Add/Remove entry, of VERSION, one
#         Start-menu entry, obsolete.txt gone, velorun.dll now STAND_IN; the
#         MSI leaves exactly what MANIFEST lists, its panel loads the installed
#         velorun.dll, and msiexec /x leaves no file and no uninstall key
set -euo pipefail
# Checks read a command's whole output before grep -q: grep stops at its first
# match, and under pipefail a writer still writing would die of SIGPIPE and
# turn the check's outcome to chance.
# Only the DLLs shipped beside the programs count here.
unset WINEPATH
what=$1
shift
tests=$(cd "$(dirname "$0")" && pwd)
work=$PWD/wine-$what
rm -rf "$work"
mkdir -p "$work"

key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
# The product's name, which names its folder, its Start-menu entry and its
# Add/Remove entry.
name=${AMBULON_PRODUCT:?the product name, which the installers give its folder}
installed="$WINEPREFIX/drive_c/Program Files/$name"
windows_folder="C:\\Program Files\\$name"
# A Windows path as Wine's loader trace writes it, each backslash doubled.
traced() { sed 's/\\/\\\\/g' <<<"$1"; }
# What Add/Remove Programs and the Start menu would show: the entries that
# name the product, whatever their key (NSIS's is the name, an MSI's its
# product code).
state() {
    echo "$1: $(wine reg query "$key" /s | tr -d '\r' | grep -ci "DisplayName.*$name") Add/Remove entry;" \
        "$(find "$WINEPREFIX/drive_c" -iname "$name.lnk" | wc -l) Start-menu entry;" \
        "$(cd "$installed" && find . -type f | LC_ALL=C sort | tr '\n' ' ')"
    wine reg query "$key" /s | tr -d '\r' | awk -v name="$name" '/^HKEY/ { entry = $0 } $0 ~ "DisplayName.*" name { print entry }' |
        while read -r entry; do
            wine reg query "$entry" | tr -d '\r' |
                grep -E 'Display(Name|Version|Icon)|Publisher|EstimatedSize' | sed 's/^ */    /'
        done
}

# start_panel PROGRAM: starts the panel in the current folder, with Wine's
# loader trace in $work/loaddll.log, waits for its window, and ends it.
start_panel() {
    WINEDEBUG=+loaddll wine "$1" 2>"$work/loaddll.log" &
    local panel=$!
    "$tests/wait-for-window" "$panel" 60 >/dev/null
    kill "$panel"
    wait "$panel" 2>/dev/null || true
}

# The panel, started from the installed folder, loads the velorun.dll there.
loads_installed_library() {
    (cd "$work" && start_panel "$windows_folder\\ambulon.exe")
    wineserver -k
    wineserver -w
    grep -qiF "Loaded L\"$(traced "$windows_folder\\velorun.dll")\"" "$work/loaddll.log" ||
        { echo "the installed panel did not load its velorun.dll"; grep -i velorun "$work/loaddll.log"; exit 1; }
}

# removed [LAB]: no file, shortcut or uninstall entry of the panel is left; with
# LAB, but the lab's own library, unchanged, in its folder. Paths inside the
# prefix only: the prefix itself may sit below a folder whose name holds
# "ambulon" (a clone of the project, say).
removed() {
    local left expected=""
    [ -z "${1:-}" ] || expected="./Program Files/$name ./Program Files/$name/velorun.dll"
    left=$(cd "$WINEPREFIX/drive_c" && find . -ipath '*ambulon*' | LC_ALL=C sort | xargs)
    [ "$left" = "$expected" ] || { echo "left behind: $left"; exit 1; }
    [ -z "${1:-}" ] || cmp -s "$1" "$installed/velorun.dll" || { echo "the lab's velorun.dll was changed"; exit 1; }
    if grep -qi ambulon <<<"$(wine reg query "$key" /s)"; then echo "the uninstall entry is left"; exit 1; fi
}

unpack() {
    unzip -q "$1" -d "$work/unpacked"
    echo "$work/unpacked/$(basename "$1" .zip)"
}

case $what in
e2e)
    folder=$(unpack "$1")
    cp "$3" "$folder/"
    # Started from a console, as the labs start it, the panel's debug messages go
    # to standard error. Under Wine it has no console window, so Qt would send them
    # to the debugger: this asks for standard error all the same. Wine passes no
    # QT_ variable from Linux, so it goes into the Windows environment.
    wine reg add 'HKCU\Environment' /v QT_FORCE_STDERR_LOGGING /t REG_SZ /d 1 /f >/dev/null
    # The clicks land at the client area's positions counted from the X window's
    # corner: the window must be the client area alone, its frame left to a
    # window manager (wine-run turns that off for speed), as on a desktop.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d Y /f >/dev/null
    AMBULON_E2E_PANEL="$folder/ambulon.exe" AMBULON_E2E_LAYOUT="$folder/$(basename "$3")" \
        QT_QPA_PLATFORM=xcb "$2/bin/tst_e2e"
    ;;
planted)
    folder=$(unpack "$1")
    mkdir "$work/start"
    cp "$2" "$work/start/velorun.dll"
    cd "$work/start"
    start_panel "$folder/ambulon.exe"
    loaded=$(grep -i 'velorun\.dll' "$work/loaddll.log" || true)
    echo "${loaded:-no velorun.dll loaded}"
    grep -qiF "Loaded L\"$(traced "$(winepath -w "$folder/velorun.dll")")\"" <<<"$loaded"
    if grep -qiF "$(traced "$(winepath -w "$work/start/velorun.dll")")" <<<"$loaded"; then exit 1; fi
    ;;
installer)
    wine "$1" /S
    wineserver -w
    test -f "$installed/ambulon.exe" && test -f "$installed/velorun.dll"
    test -f "$installed/platforms/qwindows.dll" && test -f "$installed/README.txt"
    # The import library is for building against the library, not for a lab PC.
    test ! -e "$installed/lib"
    # The Start-menu entry starts the installed panel.
    lnk=$(find "$WINEPREFIX/drive_c" -iname "$name.lnk")
    grep -qxF "$windows_folder\\ambulon.exe" <<<"$(strings -a "$lnk")" ||
        { echo "the Start-menu entry points elsewhere: $(strings -a "$lnk" | grep -i 'ambulon.exe')"; exit 1; }
    grep -qi ambulon <<<"$(wine reg query "$key" /s)"
    /usr/bin/python3 "$tests/../scripts/sbom" check "$1.cdx.json" --schema "$3" --tree "$installed" --manifest "$2"
    # NSIS writes the uninstaller at packing time: it is signed as it is written.
    osslsigncode verify -CAfile "$4" -in "$installed/Uninstall.exe" >"$work/uninstaller.log" 2>&1 ||
        { cat "$work/uninstaller.log"; echo "the uninstaller is not signed"; exit 1; }
    echo "installed: $(cd "$installed" && find . -type f | wc -l) files, a Start-menu entry, a signed uninstaller"

    cd "$work"
    start_panel "$windows_folder\\ambulon.exe"
    wineserver -k
    wineserver -w

    wine "$windows_folder\\Uninstall.exe" /S
    # The uninstaller runs on from a copy of itself: wait for every Wine process.
    wineserver -w
    removed
    # NSIS runs the uninstaller from a copy in %TEMP%, which stays there (Windows
    # removes temporary files in its own time); nothing of the panel does.
    echo "uninstalled: no file of the panel, no shortcut, no uninstall entry left"
    ;;
upgrade | msi)
    old=$1 new=$2 version=$3 stand_in=$4 lab=$5
    if [ "$what" = msi ]; then
        kind=msi
        install() { wine msiexec /i "$(winepath -w "$1")" /qn; }
        remove() { wine msiexec /x "$(winepath -w "$new")" /qn; }
    else
        kind=exe
        install() { wine "$1" /S; }
        remove() { wine "$installed/Uninstall.exe" /S; }
    fi
    # A lab's library, put in place after the older install, survives the
    # upgrade, a repair and the removal.
    for older in 0.0.1 0.0.2; do
        install "$old/$older/ambulon-$older-win64.$kind"
        wineserver -w
        cp "$lab" "$installed/velorun.dll"
        install "$new"
        wineserver -w
        cmp -s "$lab" "$installed/velorun.dll" || { echo "the upgrade from $older replaced the lab's velorun.dll"; exit 1; }
        if [ "$what" = msi ]; then
            # A repair of every file, as msiexec /fa does on Windows (Wine's
            # msiexec /f takes neither a package nor a product code): it puts
            # back a file of ours that went missing.
            rm "$installed/README.txt"
            wine msiexec /i "$(winepath -w "$new")" REINSTALL=ALL REINSTALLMODE=amus /qn
            wineserver -w
            test -f "$installed/README.txt" || { echo "the repair did not run"; exit 1; }
            cmp -s "$lab" "$installed/velorun.dll" || { echo "the repair replaced the lab's velorun.dll"; exit 1; }
        fi
        [ "$older" = 0.0.2 ] || loads_installed_library
        remove
        wineserver -w
        removed "$lab"
        echo "from $older: the upgrade, its removal and any repair left the lab's velorun.dll as it was"
        # The lab takes its library away before the next round.
        rm -r "$installed"
    done

    # Without one, the stand-in is upgraded with the rest.
    install "$old/0.0.2/ambulon-0.0.2-win64.$kind"
    wineserver -w
    state before
    test -f "$installed/obsolete.txt"
    install "$new"
    wineserver -w
    after=$(state after)
    echo "$after"
    grep -q '^after: 1 Add/Remove entry; 1 Start-menu entry;' <<<"$after"
    grep -q "DisplayVersion.*$version\$" <<<"$after"
    grep -q 'Publisher' <<<"$after"
    if [ "$what" = upgrade ]; then
        grep -q 'EstimatedSize.*0x[1-9a-f]' <<<"$after"
        grep -qi 'DisplayIcon.*ambulon\.exe' <<<"$after"
    else
        # Wine's Windows Installer writes neither: Windows shows the package's
        # ARPPRODUCTICON and reckons the size itself.
        grep -q "^ARPPRODUCTICON.ambulon.ico" <<<"$(msiinfo export "$new" Property)" &&
            grep -q '^ambulon.ico' <<<"$(cd "$work" && msiinfo export "$new" Icon)" ||
            { echo "the MSI names no icon for Add/Remove Programs"; exit 1; }
    fi
    test -f "$installed/ambulon.exe"
    if [ -e "$installed/obsolete.txt" ]; then echo "the older version's obsolete.txt is left"; exit 1; fi
    cmp -s "$stand_in" "$installed/velorun.dll" || { echo "the upgrade kept the older stand-in"; exit 1; }
    [ "$what" = msi ] || exit 0

    listed=$(/usr/bin/python3 "$tests/../scripts/manifest.py" "$6" files | LC_ALL=C sort)
    [ "$(cd "$installed" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)" = "$listed" ] ||
        { echo "the MSI installed other files than the manifest lists"; exit 1; }
    lnk=$(find "$WINEPREFIX/drive_c" -iname "$name.lnk")
    grep -qiF 'ambulon.exe' <<<"$(strings -a "$lnk")" || { echo "the Start-menu entry does not start the panel"; exit 1; }
    loads_installed_library
    echo "the installed panel started and loaded $windows_folder\\velorun.dll"

    remove
    wineserver -w
    removed
    echo "uninstalled: no file of the panel, no shortcut, no uninstall key left"
    ;;
*)
    echo "unknown check $what" >&2
    exit 2
    ;;
esac
