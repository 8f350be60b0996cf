#!/usr/bin/python3
"""Qt for Windows' recipe, windows/qt5-mingw.recipe, and BUILDINFO.txt, which
a build of it writes at its root: the one reader of both, and the one writer
of the second. scripts/qt5-mingw fetches, builds and packs; what it builds
from comes from here.

  recipe.py sources          package revision release, one source a line
  recipe.py build PACKAGE    how a library is built ("configure|cmake|meson
                             OPTION..."); nothing for Qt itself
  recipe.py configure        Qt's configure options, one a line
  recipe.py qt-version       Qt's upstream version
  recipe.py packed-sha256    the checksum of the packed build of this recipe
  recipe.py packed-sources-sha256
                             and of the sources tarball packed with it
  recipe.py tools            each tool's package, the version this machine has
                             and the one the packed build was made with
  recipe.py key              what a cache made from this recipe with this
                             machine's tools holds in its CACHEKEY.txt
  recipe.py added-patches    patch revision suite, one fix a line that the
                             build takes from a newer qtbase and applies after
                             the pinned series
  recipe.py buildinfo SOURCE NAME EPOCH SUMS COMPILER
                             BUILDINFO.txt of a build of Qt's source tree
                             SOURCE into the prefix /NAME at time EPOCH with
                             the C++ compiler COMPILER, from the fetched files
                             SUMS lists (sha256sum's form, each as PACKAGE/FILE)
  recipe.py verdict PACKAGE PINNED NEWEST
                             the CVEs that changelog NEWEST (of a newer
                             revision of PACKAGE) names from the pinned
                             upstream version on, against those the build
                             fixes (changelog PINNED, Qt's series, the added
                             patches) and those windows/vex.txt answers; exit
                             status 1 when one is neither
  recipe.py check-sources FOLDER BUILDINFO
                             checks the unpacked sources tarball FOLDER against
                             a build's BUILDINFO.txt: every file it names, with
                             its SHA-256; every file each .dsc names, with the
                             SHA-256 the .dsc gives; Qt's series in its debian
                             tarball, which is windows/qt5-patches.txt; each
                             added patch in the debian tarball it comes from
  recipe.py guards           CVE and pattern, tab-separated, of each answer of
                             windows/vex.txt that rests on the programs' code
  recipe.py read FILE KEY    the values of KEY in BUILDINFO.txt FILE, one a line
  recipe.py read FILE component|bundled FIELD...
                             those fields of each, a line each

BUILDINFO.txt holds one "key: value" a line. Most keys hold text (qt,
source, patch, added-patch, library, wintab, configure, compiler, tool,
time); three hold fields, "name=value" separated by spaces, the last field
taking the rest of the line:
  file: a file fetched from Debian's archive: name, sha256 (as the archive's
      signed index gives it), debian-source
  component: a library inside the DLLs, Qt's own included: name, version,
      debian-source, debian-revision, debian-release, linked, license, cpe
  bundled: code of Qt's own tree that stays in the DLLs: name, version, in
      (the DLL), files (a source file of it, for its copyright paragraph; "-"
      where Debian's copyright file has none of its own), reason

windows/vex.txt answers each CVE that the build does not fix; recipe.py is
its one reader too.

Run it with /usr/bin/python3 (python3-debian).
"""
import glob
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tarfile

from debian import deb822
from debian.changelog import Changelog
from debian.debian_support import Version

HERE = os.path.dirname(os.path.abspath(__file__))
RECIPE = os.path.join(HERE, "qt5-mingw.recipe")
# Debian's patch series of the qtbase revision pinned, which every build must carry.
SERIES = os.path.join(HERE, "qt5-patches.txt")
VEX = os.path.join(HERE, "vex.txt")
# The recipe's pinned checksums, which are not part of what a build is made of.
PINS = {"packed-sha256": "Packed-SHA256", "packed-sources-sha256": "Packed-Sources-SHA256"}
CVE = re.compile(r"CVE-[0-9]{4}-[0-9]{4,}")
QT = "qtbase-opensource-src"

TEXT_KEYS = ("qt", "source", "patch", "added-patch", "library", "wintab", "configure", "compiler", "tool",
             "time")
FIELDS = {
    "file": ("name", "sha256", "debian-source"),
    "component": ("name", "version", "debian-source", "debian-revision", "debian-release",
                  "linked", "license", "cpe"),
    "bundled": ("name", "version", "in", "files", "reason"),
}
FIELD = re.compile(r"([a-z0-9-]+)=(.*?)(?= [a-z0-9-]+=|$)")


class Recipe:
    def __init__(self, path=RECIPE):
        with open(path, encoding="utf-8") as f:
            paragraphs = list(deb822.Deb822.iter_paragraphs(f))
        self.build = paragraphs[0]
        self.sources = [p for p in paragraphs if "Source" in p]
        self.bundled = [p for p in paragraphs if "Bundled" in p]
        with open(SERIES, encoding="utf-8") as f:
            self.series = [line.strip() for line in f if line.strip() and not line.startswith("#")]

    def source(self, package):
        return next(s for s in self.sources if s["Source"] == package)

    @property
    def configure(self):
        return self.build["Configure"].split()

    @property
    def qt_version(self):
        return upstream(self.source(QT)["Revision"])

    @property
    def added_patches(self):
        """(patch, revision, suite): fixes from a newer qtbase, applied after its series."""
        return [tuple(line.split()) for line in self.source(QT).get("Added-Patches", "").splitlines()
                if line.strip()]

    @property
    def tools(self):
        """(command or file, package, version) the packed build was made with."""
        return [tuple(line.split()) for line in self.build["Tools"].splitlines() if line.strip()]


def upstream(revision):
    """The upstream version inside a Debian revision: no epoch, no Debian
    revision, no repacking suffix (1:1.3.dfsg+really1.3.1-1 is zlib 1.3.1)."""
    v = revision.split(":", 1)[-1].rsplit("-", 1)[0]
    v = v.split("+really")[-1]
    return re.split(r"[+~.]dfsg", v)[0]


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout.strip()


def installed(what):
    """The Debian package that holds a command or file, and its version."""
    path = what if what.startswith("/") else shutil.which(what)
    if not path:
        raise ValueError("no {} on this machine".format(what))
    path = os.path.realpath(path)
    try:
        package = run("dpkg-query", "-S", path)
    except subprocess.CalledProcessError:
        # Debian 12 registers some of /usr/bin under /bin still.
        package = run("dpkg-query", "-S", path[len("/usr"):] if path.startswith("/usr/") else path)
    package = package.split(":")[0]
    return package, run("dpkg-query", "-W", "-f", "${Version}", package)


def machine_tools(recipe):
    return [(what,) + installed(what) for what, _, _ in recipe.tools]


def key(recipe):
    """The recipe as it shapes the bytes, with the versions of this machine's
    tools; its checksum is not part of it."""
    build = {k: v for k, v in recipe.build.items() if k not in list(PINS.values()) + ["Tools"]}
    what = [build, [dict(s) for s in recipe.sources], [dict(b) for b in recipe.bundled], recipe.series,
            machine_tools(recipe)]
    return "recipe: " + hashlib.sha256(json.dumps(what, sort_keys=True).encode()).hexdigest()


def attribution_version(source, name):
    """The version that Qt's qt_attribution.json files give the Id NAME."""
    for path in sorted(glob.glob(os.path.join(source, "src", "**", "qt_attribution.json"), recursive=True)):
        with open(path, encoding="utf-8") as f:
            data = json.loads(f.read(), strict=False)
        for entry in data if isinstance(data, list) else [data]:
            if entry.get("Id") == name:
                return "_".join(str(entry.get("Version") or "-").split())
    raise ValueError("no qt_attribution.json names " + name)


def buildinfo(recipe, source, name, epoch, sums, compiler):
    lines = ["qt: " + recipe.qt_version]
    lines += ["source: {} {} ({})".format(s["Source"], s["Revision"], s["Release"]) for s in recipe.sources]
    lines += ["patch: " + p for p in recipe.series]
    lines += ["added-patch: {} from {} {} ({}), after the series".format(p, QT, revision, suite)
              for p, revision, suite in recipe.added_patches]
    lines += ["library: {}: {}".format(s["Source"], " ".join(s["Build"].split()))
              for s in recipe.sources if "Build" in s]
    lines.append("wintab: wintab.h and pktdef.h from Debian's libwine-dev {} (LGPL-2.1), behind a shim "
                 "for two Wine-only macros".format(run("dpkg-query", "-W", "-f", "${Version}", "libwine-dev")))
    lines.append("configure: {} -prefix /{} -I DEPS/include -L DEPS/lib".format(" ".join(recipe.configure), name))
    lines.append("compiler: " + run(compiler, "--version").splitlines()[0])
    lines += ["tool: {} {} ({})".format(package, version, what) for what, package, version in machine_tools(recipe)]
    lines.append("time: {}".format(epoch))
    with open(sums, encoding="utf-8") as f:
        for line in f:
            sha256, path = line.split()
            package, _, file = path.partition("/")
            lines.append("file: name={} sha256={} debian-source={}".format(file, sha256, package))
    for s in recipe.sources:
        version = upstream(s["Revision"])
        cpe = "cpe:2.3:a:{}:{}:*:*:*:*:*:*:*".format(s["CPE"], version) if s.get("CPE") else ""
        lines.append("component: name={} version={} debian-source={} debian-revision={} debian-release={} "
                     "linked={} license={} cpe={}".format(
                         s["Name"], version, s["Source"], s["Revision"], s["Release"],
                         "static" if "Build" in s else "shared", s["License"], cpe))
    for b in recipe.bundled:
        lines.append("bundled: name={} version={} in={} files={} reason={}".format(
            b["Bundled"], attribution_version(source, b["Bundled"]), b["In"], b["Files"], b["Reason"]))
    BuildInfo(lines)
    return "".join(line + "\n" for line in lines)


def answers():
    """windows/vex.txt's paragraphs: the CVEs the build does not fix, answered."""
    with open(VEX, encoding="utf-8") as f:
        return [dict(p) for p in deb822.Deb822.iter_paragraphs(f) if "CVE" in p]


def named(changelog, since, until=None):
    """{CVE: the revision whose entry names it first} of the entries of a
    Debian changelog (its text) from upstream version SINCE on, up to
    revision UNTIL when given."""
    found = {}
    for block in Changelog(changelog, strict=False):
        version = Version(str(block.version))
        if Version(upstream(str(version))) >= Version(since) and (until is None or version <= Version(until)):
            for cve in CVE.findall("\n".join(block.changes())):
                found[cve] = str(version)
    return found


def fixed(package, revision, changelog, patches, added):
    """{CVE: how the build fixes it}: named in the pinned revision's changelog
    from its upstream version on, or the name of a patch of Qt's series, or
    of a patch the build adds (ADDED: (patch, revision, suite))."""
    how = {cve: "fixed in Debian's {} {} (its changelog)".format(package, version)
           for cve, version in named(changelog, upstream(revision)).items()}
    if package == QT:
        for patch in patches:
            for cve in CVE.findall(patch):
                how[cve] = "fixed by Debian's patch {} in the series of {} {}".format(patch, package, revision)
        for patch, newer, suite in added:
            for cve in CVE.findall(patch):
                how[cve] = "fixed by Debian's patch {} of {} {} ({}), applied after the series".format(
                    patch, package, newer, suite)
    return how


def resolved(prefix):
    """{component: {CVE: how}} that a build of Qt for Windows fixes, from its
    BUILDINFO.txt and the Debian changelogs it keeps."""
    info = read(os.path.join(prefix, "BUILDINFO.txt"))
    added = [re.match(r"(\S+) from \S+ (\S+) \((\S+)\)", line).groups() for line in info.get("added-patch")]
    result = {}
    for c in info.components:
        with open(os.path.join(prefix, "changelog", c["debian-source"]), encoding="utf-8") as f:
            result[c["name"]] = fixed(c["debian-source"], c["debian-revision"], f.read(), info.get("patch"), added)
    return result


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def check_sources(folder, buildinfo):
    """What is wrong with the sources in FOLDER, for the build BUILDINFO describes."""
    info = read(buildinfo)
    named = {"{}/{}".format(f["debian-source"], f["name"]): f["sha256"] for f in info.get("file")}
    with open(os.path.join(folder, "SHA256SUMS"), encoding="utf-8") as f:
        held = {path: sha for sha, path in (line.split() for line in f)}
    problems = ["BUILDINFO.txt and SHA256SUMS differ on " + p
                for p in sorted(set(named) ^ set(held)) + sorted(p for p in named if held.get(p, named[p]) != named[p])]
    problems += [p + ": not the SHA-256 named" for p in sorted(named) if sha256(os.path.join(folder, p)) != named[p]]
    for dsc in sorted(glob.glob(os.path.join(folder, "*", "*.dsc"))):
        with open(dsc, encoding="utf-8") as f:
            for entry in deb822.Dsc(f)["Checksums-Sha256"]:
                if sha256(os.path.join(os.path.dirname(dsc), entry["name"])) != entry["sha256"]:
                    problems.append("{}: not the SHA-256 that {} gives".format(entry["name"], os.path.basename(dsc)))
    for c in info.components:
        if c["debian-source"] != QT:
            continue
        debian = os.path.join(folder, QT, "{}_{}.debian.tar.xz".format(QT, c["debian-revision"]))
        with tarfile.open(debian) as t:
            series = [line.strip() for line in t.extractfile("debian/patches/series").read().decode().splitlines()
                      if line.strip() and not line.startswith("#")]
        if series != info.get("patch") or series != Recipe().series:
            problems.append("Qt's series in {} is not the build's, or not {}".format(os.path.basename(debian), SERIES))
    for line in info.get("added-patch"):
        patch, revision = re.match(r"(\S+) from \S+ (\S+)", line).groups()
        with tarfile.open(os.path.join(folder, QT, "{}_{}.debian.tar.xz".format(QT, revision))) as t:
            if "debian/patches/" + patch not in t.getnames():
                problems.append("{} is not in {} {}'s debian tarball".format(patch, QT, revision))
    return problems


def verdict(recipe, package, pinned, newest):
    """One line on PACKAGE's CVEs, and whether any is neither fixed nor answered."""
    source = recipe.source(package)
    with open(pinned, encoding="utf-8") as f:
        fixes = fixed(package, source["Revision"], f.read(), recipe.series, recipe.added_patches)
    with open(newest, encoding="utf-8") as f:
        text = f.read()
    latest = str(next(iter(Changelog(text, strict=False))).version)
    cves = named(text, upstream(source["Revision"]))
    # What the newer changelog says of a revision up to the pinned one holds
    # for the build too (an entry may be told more later: "Fixes CVE-...").
    for cve, version in named(text, upstream(source["Revision"]), source["Revision"]).items():
        fixes.setdefault(cve, "fixed in Debian's {} {}".format(package, version))
    answered = {a["CVE"] for a in answers() if a["Component"] == source["Name"]}
    open_ = sorted(set(cves) - set(fixes) - answered)
    print("{}: {}'s changelog names {} CVE{} since {}: {} fixed, {} answered in windows/vex.txt{}".format(
        package, latest, len(cves), "" if len(cves) == 1 else "s", upstream(source["Revision"]),
        len(set(cves) & set(fixes)), len((set(cves) - set(fixes)) & answered),
        "; NEITHER: " + " ".join(open_) if open_ else ""))
    return 1 if open_ else 0


class BuildInfo:
    def __init__(self, lines):
        self.values = {}
        for number, line in enumerate(lines, 1):
            line = line.rstrip("\n")
            key, sep, value = line.partition(": ")
            if not sep or key not in TEXT_KEYS + tuple(FIELDS):
                raise ValueError("line {}: not a BUILDINFO line: {}".format(number, line))
            if key in FIELDS:
                fields = dict(FIELD.findall(value))
                if tuple(fields) != FIELDS[key]:
                    raise ValueError("line {}: {} needs the fields {}, in that order".format(
                        number, key, " ".join(FIELDS[key])))
                value = fields
            self.values.setdefault(key, []).append(value)

    def get(self, key):
        return self.values.get(key, [])

    @property
    def components(self):
        return self.get("component")

    @property
    def bundled(self):
        return self.get("bundled")


def read(path):
    with open(path, encoding="utf-8") as f:
        return BuildInfo(f)


def main(argv):
    command, args = (argv[0], argv[1:]) if argv else ("", [])
    if command == "read" and len(args) >= 2:
        info = read(args[0])
        if args[1] in FIELDS:
            for entry in info.get(args[1]):
                print(" ".join(entry[f] for f in args[2:]) if args[2:] else
                      " ".join("{}={}".format(k, v) for k, v in entry.items()))
        else:
            for value in info.get(args[1]):
                print(value)
        return 0
    recipe = Recipe()
    if command == "sources" and not args:
        for s in recipe.sources:
            print(s["Source"], s["Revision"], s["Release"])
    elif command == "build" and len(args) == 1:
        print(" ".join(recipe.source(args[0]).get("Build", "").split()))
    elif command == "configure" and not args:
        print("\n".join(recipe.configure))
    elif command == "qt-version" and not args:
        print(recipe.qt_version)
    elif command in PINS and not args:
        print(recipe.build.get(PINS[command], ""))
    elif command == "tools" and not args:
        pinned = {what: version for what, _, version in recipe.tools}
        for what, package, version in machine_tools(recipe):
            print(package, version, pinned[what])
    elif command == "added-patches" and not args:
        for patch in recipe.added_patches:
            print(*patch)
    elif command == "key" and not args:
        print(key(recipe))
    elif command == "check-sources" and len(args) == 2:
        problems = check_sources(*args)
        print("\n".join(problems) if problems else "{}: every file is the one {} names".format(*args))
        return 1 if problems else 0
    elif command == "guards" and not args:
        for a in answers():
            if "Guard" in a:
                print(a["CVE"], a["Guard"], sep="\t")
    elif command == "verdict" and len(args) == 3:
        return verdict(recipe, *args)
    elif command == "buildinfo" and len(args) == 5:
        sys.stdout.write(buildinfo(recipe, *args))
    else:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except (OSError, ValueError, KeyError, StopIteration, subprocess.CalledProcessError) as e:
        print("recipe.py: {}".format(e), file=sys.stderr)
        sys.exit(1)
