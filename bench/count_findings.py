#!/usr/bin/env python3
"""Counts the findings of a tangler-site text report by kind, both as
findings (one per reference) and as distinct targets (the file, or file and
fragment, a reference leads to), the unit in which LinkChecker counts: it
checks each distinct URL once and reports it under the first page that
links to it.

    count_findings.py REPORT [ROOT-NAME]

ROOT-NAME is the ROOT argument tangler-site was given ("" when omitted).
Prints one line: "KIND findings/targets" for each kind present.
"""
import collections
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from compare_findings import LINE, ORPHAN, key, resolve  # noqa: E402


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    name = sys.argv[2].rstrip("/") if len(sys.argv) > 2 else ""
    prefix = name + "/" if name not in ("", ".") else ""
    findings = collections.Counter()
    targets = collections.defaultdict(set)
    with open(sys.argv[1], encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            m = LINE.match(line)
            if m:
                path, kind, msg = m.group(1)[len(prefix):], m.group(6), m.group(5)
                ref = re.match(r"^'(.*?)'(:| not found| differs| leads| only)", msg)
                ref = ref.group(1) if ref else msg
                if kind == "missing-anchor":
                    anchor = re.search(r"has no anchor '(.*)'$", msg)
                    t = key(resolve(path, ref)[0], anchor.group(1) if anchor else "")
                elif kind == "file-scheme":
                    t = ref
                else:
                    t = key(resolve(path, ref)[0])
            elif ORPHAN.match(line):
                kind, t = "orphan", line
            else:
                continue
            findings[kind] += 1
            targets[kind].add(t)
    print(", ".join("%s %d/%d" % (k, findings[k], len(targets[k])) for k in sorted(findings)) or "none")


if __name__ == "__main__":
    main()
