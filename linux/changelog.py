#!/usr/bin/python3
"""Reads CHANGELOG.md, the one place for the releases and their dates.

  changelog.py CHANGELOG.md newest               the newest release's version and date
  changelog.py CHANGELOG.md debian MAINTAINER    the Debian changelog
  changelog.py CHANGELOG.md appstream            AppStream's <release> lines
"""
import datetime
import re
import sys
import textwrap

HEADING = re.compile(r"^## \[(?P<version>[^]]+)\] - (?P<date>\d{4}-\d{2}-\d{2})$")


def releases(path):
    """[(version, date, [(section, item)...])], newest first."""
    found = []
    section = None
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            m = HEADING.match(line)
            if m:
                found.append((m["version"], m["date"], []))
            elif found and line.startswith("### "):
                section = line[4:].strip()
            elif found and line.startswith("- "):
                found[-1][2].append([section, line[2:].strip()])
            elif found and line.startswith("  ") and found[-1][2]:
                found[-1][2][-1][1] += " " + line.strip()
    if not found:
        raise ValueError("{} names no release (## [VERSION] - YYYY-MM-DD)".format(path))
    return found


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    entries = releases(argv[0])
    if argv[1] == "newest":
        print(entries[0][0], entries[0][1])
    elif argv[1] == "debian" and len(argv) == 3:
        for n, (version, date, items) in enumerate(entries):
            print("{}ambulon ({}) unstable; urgency=medium\n".format("\n" if n else "", version))
            for section, item in items:
                text = item if section in (None, "Added") else "{}: {}".format(section, item)
                print(textwrap.fill(text, 78, initial_indent="  * ", subsequent_indent="    "))
            when = datetime.datetime.strptime(date, "%Y-%m-%d")
            print("\n -- {}  {}".format(argv[2], when.strftime("%a, %d %b %Y 00:00:00 +0000")))
    elif argv[1] == "appstream":
        for version, date, _ in entries:
            print('    <release version="{}" date="{}"/>'.format(version, date))
    else:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except (OSError, ValueError) as e:
        print("changelog.py: {}".format(e), file=sys.stderr)
        sys.exit(1)
