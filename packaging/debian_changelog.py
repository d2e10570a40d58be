#!/usr/bin/env python3
"""debian_changelog.py CHANGELOG.md PACKAGE MAINTAINER OUTPUT

Writes CHANGELOG.md in the format of a Debian changelog, which is what Debian's tools and
lintian read from a native package's changelog.gz. Each "## [VERSION] - YYYY-MM-DD" section
becomes an entry dated that day; its "### Kind" headings and "- " items become nested
items, wrapped to 78 columns. Markdown markup other than code spans is kept as written;
an "[Unreleased]" section has no date and is left out.
"""
import datetime
import email.utils
import re
import sys
import textwrap

RELEASE = re.compile(r"^## \[(?P<version>[^\]]+)\] - (?P<date>\d{4}-\d{2}-\d{2})\s*$")


def releases(lines):
    """Yields (version, date, [(kind, [item, ...]), ...]) in the file's order."""
    release = None
    for line in lines:
        line = line.rstrip()
        if line.startswith("## "):
            if release:
                yield release
            match = RELEASE.match(line)
            release = (match["version"], match["date"], []) if match else None
        elif release is None:
            continue
        elif line.startswith("### "):
            release[2].append((line[4:].strip(), []))
        elif line.startswith("- "):
            if not release[2]:
                release[2].append(("Changed", []))
            release[2][-1][1].append(line[2:].strip())
        elif line.startswith("  ") and release[2] and release[2][-1][1]:
            items = release[2][-1][1]
            items[-1] += " " + line.strip()
    if release:
        yield release


def entry(package, maintainer, version, date, sections):
    out = [f"{package} ({version}) unstable; urgency=medium", ""]
    for kind, items in sections:
        if not items:
            continue
        out.append(f"  * {kind}:")
        for item in items:
            out += textwrap.wrap(item.replace("`", ""), width=78, initial_indent="    - ",
                                 subsequent_indent="      ", break_on_hyphens=False)
    day = datetime.datetime.strptime(date, "%Y-%m-%d").replace(tzinfo=datetime.timezone.utc)
    out += ["", f" -- {maintainer}  {email.utils.format_datetime(day)}", ""]
    return out


def main(argv):
    if len(argv) != 5:
        sys.exit(__doc__)
    source, package, maintainer, output = argv[1:]
    with open(source, encoding="utf-8") as f:
        found = list(releases(f))
    if not found:
        sys.exit(f"{source}: no release headed '## [VERSION] - YYYY-MM-DD'")
    lines = []
    for version, date, sections in found:
        lines += entry(package, maintainer, version, date, sections)
    with open(output, "w", encoding="utf-8") as f:
        f.write("\n".join(lines[:-1]) + "\n")


if __name__ == "__main__":
    main(sys.argv)
