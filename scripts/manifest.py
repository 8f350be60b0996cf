#!/usr/bin/python3
"""The build's manifest.txt, which ambulon_ship() writes (top CMakeLists.txt):
the one reader of it. After a "version" and a "time" line, one "KIND PATH
[ORIGIN]" a line for every file and link a package ships, PATH inside the
package; ORIGIN is the build machine's file a shipped one is made from.

  manifest.py MANIFEST NAME...   the paths of the files of each NAME, one a
                                 line, or the value of version or time

NAME is a kind (program, library, qt, runtime, notice, doc, data, link) or a
group of them: files (every file, links aside), ours (our own programs and
library), binaries (every program and library: on Windows every PE file).
"""
import sys

KINDS = ("program", "library", "qt", "runtime", "notice", "doc", "data", "link")
GROUPS = {
    "files": KINDS[:-1],
    "ours": ("program", "library"),
    "binaries": ("program", "library", "qt", "runtime"),
}


class Manifest:
    def __init__(self, path):
        self.values = {}
        self.kind = {}
        self.origin = {}
        with open(path, encoding="utf-8") as f:
            for line in f:
                words = line.split()
                if words[0] in ("version", "time"):
                    self.values[words[0]] = words[1]
                elif words[0] in KINDS:
                    self.kind[words[1]] = words[0]
                    self.origin[words[1]] = words[2] if len(words) > 2 else None
                else:
                    raise ValueError("{}: not a manifest line: {}".format(path, line.rstrip()))

    def paths(self, *names):
        """The paths of the files of the NAMEs (kinds or groups), in the manifest's order."""
        kinds = {k for n in names for k in GROUPS.get(n, (n,))}
        unknown = kinds - set(KINDS)
        if unknown:
            raise ValueError("no such kind of file: " + " ".join(sorted(unknown)))
        return [p for p, k in self.kind.items() if k in kinds]


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    manifest = Manifest(argv[0])
    for name in argv[1:]:
        if name in manifest.values:
            print(manifest.values[name])
        else:
            for path in manifest.paths(name):
                print(path)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except (OSError, ValueError) as e:
        print("manifest.py: {}".format(e), file=sys.stderr)
        sys.exit(1)
