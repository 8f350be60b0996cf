#!/usr/bin/python3
"""BUILDINFO.txt of Qt for Windows: what it was built from and what is inside.

One "key: value" a line. Most keys hold text (qt, source, patch, library,
wintab, configure, compiler, time); two hold fields, "name=value" separated
by spaces, the last field taking the rest of the line:
  component: a library inside the DLLs, Qt's own included: name, version,
      debian-source, debian-revision, debian-release, linked, license, cpe
  bundled: code of Qt's own tree that stays in the DLLs: name, version, in
      (the DLL), files (a source file of it, for its copyright paragraph; "-"
      where Debian's copyright file has none of its own), reason

  buildinfo.py --write < LINES > BUILDINFO.txt   checks LINES and writes them
  buildinfo.py FILE KEY                         the values of KEY, one a line
  buildinfo.py FILE component|bundled FIELD...  those fields of each, a line each
"""
import re
import sys

TEXT_KEYS = ("qt", "source", "patch", "library", "wintab", "configure", "compiler", "time")
FIELDS = {
    "component": ("name", "version", "debian-source", "debian-revision", "debian-release",
                  "linked", "license", "cpe"),
    "bundled": ("name", "version", "in", "files", "reason"),
}
FIELD = re.compile(r"([a-z-]+)=(.*?)(?= [a-z-]+=|$)")


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
    if argv == ["--write"]:
        lines = sys.stdin.readlines()
        BuildInfo(lines)
        sys.stdout.write("".join(lines))
        return 0
    if len(argv) >= 2:
        info = read(argv[0])
        if argv[1] in FIELDS:
            for entry in info.get(argv[1]):
                print(" ".join(entry[f] for f in argv[2:]) if argv[2:] else
                      " ".join("{}={}".format(k, v) for k, v in entry.items()))
        else:
            for value in info.get(argv[1]):
                print(value)
        return 0
    print(__doc__.strip(), file=sys.stderr)
    return 2


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except (OSError, ValueError) as e:
        print("buildinfo.py: {}".format(e), file=sys.stderr)
        sys.exit(1)
