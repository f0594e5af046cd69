#!/usr/bin/env python3
"""Counts the findings of one tangler-site run by kind, for the table of
bench/real_trees.sh.

    report_kinds.py REPORT.json [REPORT.txt]

REPORT.json is the run's `-f json` report (version 1 carries
summary.seconds, version 2 does not; both list `findings`, each with its
`kind`). Prints one line of nine numbers: pages, files, then the findings of
each kind in KINDS' order.

REPORT.txt, when given, is the same binary's text report of the same tree:
each finding is one line ending in " [KIND]". Its counts must equal the JSON
report's; if they do not, the difference is named on the error stream and the
status is 1, so a table is never built from two reports that disagree.
"""
import collections
import json
import re
import sys

KINDS = ["missing-file", "missing-anchor", "case-mismatch", "outside-root",
         "file-scheme", "invalid-url", "orphan"]
TEXT_KIND = re.compile(r" \[([a-z-]+)\]$")


def text_counts(name):
    counts = collections.Counter()
    with open(name, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = TEXT_KIND.search(line.rstrip("\n"))
            if m:
                counts[m.group(1)] += 1
    return counts


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    with open(sys.argv[1], encoding="utf-8") as f:
        report = json.load(f)
    counts = collections.Counter(f["kind"] for f in report["findings"])
    unknown = set(counts) - set(KINDS)
    if unknown:
        sys.exit("report_kinds.py: %s: kinds this table has no column for: %s"
                 % (sys.argv[1], ", ".join(sorted(unknown))))
    summary = report["summary"]
    print(" ".join(str(n) for n in [summary["pages"], summary["files"]] + [counts[k] for k in KINDS]))
    if len(sys.argv) == 3:
        text = text_counts(sys.argv[2])
        if text != counts:
            diff = ", ".join("%s json %d text %d" % (k, counts[k], text[k])
                             for k in sorted(set(counts) | set(text)) if counts[k] != text[k])
            print("report_kinds.py: %s and %s disagree: %s" % (sys.argv[1], sys.argv[2], diff),
                  file=sys.stderr)
            sys.exit(1)


if __name__ == "__main__":
    main()
