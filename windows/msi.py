#!/usr/bin/python3
"""Builds the Windows Installer package (MSI) from a staged tree with wixl.

  msi.py --tree DIR --manifest FILE --out FILE.msi --version V --commit C
         --vendor NAME --upgrade-code GUID --icon FILE.ico --url URL
         --time EPOCH [--shortcut EXE=NAME] [--keep-library DLL]

Every file the manifest lists must be in the tree; the tree may hold more
(an upgrade test's older package does). Per machine, into Program Files\\Ambulon,
with a Start-menu entry and a major upgrade: a newer package replaces an
older one and leaves one Add/Remove entry. The same input gives the same
bytes: every GUID is derived (the product code from the version, the package
code from the version and the commit, each component's from its path), and
wixl and msibuild run at the release time, under faketime.

With --keep-library (windows/keep-library.cpp), a velorun.dll that a lab put
in the folder itself stays in place through every install, upgrade, repair
and removal: it is set aside before the older version is removed and put back
once the files are installed. Without it the package deletes and replaces
velorun.dll like any other file, as Ambulon 0.1.0's did (the upgrade tests
pack such a package).
"""
import argparse
import datetime
import os
import subprocess
import sys
import tempfile
import uuid
from xml.sax.saxutils import quoteattr


def derived(upgrade_code, what):
    return str(uuid.uuid5(uuid.UUID(upgrade_code), what)).upper()


def identifier(prefix, path):
    # Windows Installer identifiers: letters, digits, underscores and dots.
    return prefix + "".join(c if c.isalnum() else "_" for c in path)


def wxs(args, files):
    code = args.upgrade_code
    shortcut_exe, _, shortcut_name = args.shortcut.partition("=")
    lines = [
        '<?xml version="1.0" encoding="utf-8"?>',
        '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">',
        '<Product Id="{}" Name="Ambulon" Language="1033" Version="{}" Manufacturer={} UpgradeCode="{}">'.format(
            derived(code, "product " + args.version), args.version, quoteattr(args.vendor), code.upper()),
        '<Package InstallerVersion="500" Compressed="yes" InstallScope="perMachine"'
        ' Description="Ambulon {}"/>'.format(args.version),
        '<MajorUpgrade DowngradeErrorMessage="A newer version of Ambulon is already installed."/>',
        '<Media Id="1" Cabinet="ambulon.cab" EmbedCab="yes"/>',
        '<Icon Id="ambulon.ico" SourceFile="ambulon.ico"/>',
        '<Property Id="ARPPRODUCTICON" Value="ambulon.ico"/>',
        '<Property Id="ARPURLINFOABOUT" Value={}/>'.format(quoteattr(args.url)),
    ]
    if args.keep_library:
        # The library is set aside at once, between InstallValidate (1400) and
        # the older version's removal (1402); an older version of this package
        # runs its own actions while it is removed and puts the library back
        # at their end, so it is set aside again after the removal. Putting it
        # back is deferred to right after InstallFiles (4000), with the folder
        # as its CustomActionData. wixl's ordering of actions without a
        # number is not stable, hence the numbers.
        lines += [
            '<Binary Id="keeplibrary" SourceFile="keep-library.dll"/>',
            '<CustomAction Id="SetLibraryAside" BinaryKey="keeplibrary" DllEntry="SetLibraryAside"'
            ' Execute="immediate" Impersonate="yes" Return="check"/>',
            '<CustomAction Id="SetLibraryAsideAgain" BinaryKey="keeplibrary" DllEntry="SetLibraryAside"'
            ' Execute="immediate" Impersonate="yes" Return="check"/>',
            '<CustomAction Id="PutLibraryBackFolder" Property="PutLibraryBack" Value="[INSTALLDIR]"'
            ' Impersonate="yes"/>',
            '<CustomAction Id="PutLibraryBack" BinaryKey="keeplibrary" DllEntry="PutLibraryBack"'
            ' Execute="deferred" Impersonate="no" Return="check"/>',
            '<InstallExecuteSequence>',
            '<Custom Action="SetLibraryAside" Sequence="1401"/>',
            '<RemoveExistingProducts Sequence="1402"/>',
            '<Custom Action="SetLibraryAsideAgain" Sequence="1403"/>',
            '<Custom Action="PutLibraryBackFolder" Sequence="4001"/>',
            '<Custom Action="PutLibraryBack" Sequence="4002"/>',
            '</InstallExecuteSequence>',
        ]
    lines += [
        '<Directory Id="TARGETDIR" Name="SourceDir">',
        '<Directory Id="ProgramFiles64Folder">',
        '<Directory Id="INSTALLDIR" Name="Ambulon">',
    ]
    components = []
    # The tree of folders: a dict per folder, a file's path under its name.
    root = {}
    for path in files:
        node = root
        *folders, name = path.split("/")
        for part in folders:
            node = node.setdefault(part, {})
        node[name] = path

    def folder(node, prefix):
        for name, path in sorted(node.items()):
            if isinstance(path, dict):
                continue
            cid = identifier("c_", path)
            components.append(cid)
            lines.append('<Component Id="{}" Guid="{}" Win64="yes">'.format(
                cid, derived(code, "component " + path)))
            lines.append('<File Id="{}" Source={} KeyPath="yes"/>'.format(
                identifier("f_", path), quoteattr("tree/" + path)))
            lines.append('</Component>')
        for name, sub in sorted(node.items()):
            if isinstance(sub, dict):
                lines.append('<Directory Id="{}" Name={}>'.format(identifier("d_", prefix + name), quoteattr(name)))
                folder(sub, prefix + name + "/")
                lines.append('</Directory>')

    folder(root, "")
    lines += [
        '</Directory>', '</Directory>',
        '<Directory Id="ProgramMenuFolder">',
        '<Component Id="c_shortcut" Guid="{}" Win64="yes">'.format(derived(code, "component shortcut")),
        '<Shortcut Id="s_panel" Name={} Target="[INSTALLDIR]{}" WorkingDirectory="INSTALLDIR"/>'.format(
            quoteattr(shortcut_name), shortcut_exe),
        '<RegistryValue Root="HKLM" Key="Software\\Ambulon" Name="StartMenuEntry" Type="integer" Value="1"'
        ' KeyPath="yes"/>',
        '</Component>',
        '</Directory>',
        '</Directory>',
        '<Feature Id="Ambulon" Level="1">',
    ]
    lines += ['<ComponentRef Id="{}"/>'.format(c) for c in components + ["c_shortcut"]]
    lines += ['</Feature>', '</Product>', '</Wix>']
    return "\n".join(lines) + "\n"


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for name in ("tree", "manifest", "out", "version", "commit", "vendor", "upgrade-code", "icon",
                 "url", "time", "shortcut"):
        p.add_argument("--" + name, required=True)
    p.add_argument("--keep-library")
    args = p.parse_args()

    listed = []
    with open(args.manifest, encoding="utf-8") as f:
        for line in f:
            words = line.split()
            if len(words) >= 2 and words[0] not in ("version", "time"):
                listed.append(words[1])
    present = sorted(os.path.relpath(os.path.join(d, n), args.tree)
                     for d, _, names in os.walk(args.tree) for n in names)
    missing = sorted(set(listed) - set(present))
    if missing:
        print("msi.py: the tree lacks what the manifest lists: " + " ".join(missing), file=sys.stderr)
        return 1

    # Every time wixl and msibuild write is the release time.
    when = datetime.datetime.fromtimestamp(int(args.time), datetime.timezone.utc)
    faketime = ["faketime", "-f", when.strftime("@%Y-%m-%d %H:%M:%S")]
    env = dict(os.environ, TZ="UTC")
    out = os.path.abspath(args.out)
    # wixl takes sources by relative paths only: the tree and the icon are
    # linked into the folder it runs in.
    with tempfile.TemporaryDirectory() as work:
        os.symlink(os.path.abspath(args.tree), os.path.join(work, "tree"))
        os.symlink(os.path.abspath(args.icon), os.path.join(work, "ambulon.ico"))
        if args.keep_library:
            os.symlink(os.path.abspath(args.keep_library), os.path.join(work, "keep-library.dll"))
        with open(os.path.join(work, "ambulon.wxs"), "w", encoding="utf-8") as f:
            f.write(wxs(args, present))
        subprocess.run(faketime + ["wixl", "-a", "x64", "-o", out, "ambulon.wxs"], check=True, env=env,
                       cwd=work)
    # wixl writes a random package code: the one derived from version and commit instead.
    package_code = "{" + derived(args.upgrade_code, "package {} {}".format(args.version, args.commit)) + "}"
    subprocess.run(faketime + ["msibuild", out, "-s", "Ambulon", args.vendor, "x64;1033", package_code],
                   check=True, env=env)
    return 0


if __name__ == "__main__":
    sys.exit(main())
