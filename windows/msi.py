#!/usr/bin/python3
"""Builds the Windows Installer package (MSI) from a staged tree with wixl.

  msi.py --tree DIR --manifest FILE --out FILE.msi --name NAME --folder FOLDER
         --version V --commit C --vendor NAME --upgrade-code GUID --icon FILE.ico
         --url URL --time EPOCH --shortcut EXE=NAME [--keep-library DLL]

Every file the manifest lists must be in the tree; the tree may hold more
(an upgrade test's older package does). Per machine, into Program Files\\FOLDER,
with a Start-menu entry and a major upgrade: a newer package replaces an
older one and leaves one Add/Remove entry. The same input gives the same
bytes: every GUID is derived (the product code from the version, the package
code from the version and the commit, each component's from its path), and
wixl and msibuild run at the release time, under faketime.

The package's source is windows/ambulon.wxs, filled in. With --keep-library
(windows/keep-library.cpp), a velorun.dll that a lab put in the folder itself
stays in place through every install, upgrade, repair and removal: it is set
aside before the older version is removed and put back once the files are
installed. Without it the package deletes and replaces velorun.dll like any
other file, as Ambulon 0.1.0's did (the upgrade tests pack such a package).
"""
import argparse
import datetime
import os
import re
import string
import subprocess
import sys
import tempfile
import uuid
from xml.sax.saxutils import escape, quoteattr

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
import manifest  # noqa: E402  (scripts/manifest.py, the one reader of manifest.txt)


def derived(upgrade_code, what):
    return str(uuid.uuid5(uuid.UUID(upgrade_code), what)).upper()


def identifier(prefix, path):
    # Windows Installer identifiers: letters, digits, underscores and dots.
    return prefix + "".join(c if c.isalnum() else "_" for c in path)


def wxs(args, files):
    """windows/ambulon.wxs filled in for FILES, the paths in the tree."""
    code = args.upgrade_code
    shortcut_exe, _, shortcut_name = args.shortcut.partition("=")
    components = []
    lines = []
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
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "ambulon.wxs"), encoding="utf-8") as f:
        template = f.read()
    if not args.keep_library:
        template = re.sub(r"<!-- keep-library:.*<!-- /keep-library -->\n", "", template, flags=re.S)
    values = {k: escape(v, {'"': "&quot;"}) for k, v in {
        "product_code": derived(code, "product " + args.version), "name": args.name, "version": args.version,
        "vendor": args.vendor, "upgrade_code": code.upper(), "url": args.url, "folder": args.folder,
        "shortcut_guid": derived(code, "component shortcut"), "shortcut_name": shortcut_name,
        "shortcut_exe": shortcut_exe}.items()}
    values["files"] = "\n".join(lines)
    values["component_refs"] = "\n".join('<ComponentRef Id="{}"/>'.format(c) for c in components)
    return string.Template(template).substitute(values)


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for name in ("tree", "manifest", "out", "name", "folder", "version", "commit", "vendor", "upgrade-code",
                 "icon", "url", "time", "shortcut"):
        p.add_argument("--" + name, required=True)
    p.add_argument("--keep-library")
    args = p.parse_args()

    listed = manifest.Manifest(args.manifest).paths("files")
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
    subprocess.run(faketime + ["msibuild", out, "-s", args.name, args.vendor, "x64;1033", package_code],
                   check=True, env=env)
    return 0


if __name__ == "__main__":
    sys.exit(main())
