#!/usr/bin/env python3
"""Compares a peer link checker's report on a generated site with the planted
faults that generate_nested_site.py wrote down.

    compare_findings.py --expected FILE --site DIR (--linkinator CSV | --hyperlink TAP)

The peers name targets, not places, and each reports a target once however
many pages link to it, so both sides are reduced to targets: the path under
the site's root that a reference leads to, with its fragment for anchor
faults. A planted fault counts as found when the peer reported its target.
Every other target the peer reported is listed, with the reason when it is a
known one: "#top" and text fragments (":~:") are valid in every browser, and
a percent-encoded fragment names a decoded anchor that exists.

Prints a summary and the lists; --quiet prints the summary alone.
"""
import argparse
import collections
import csv
import os
import posixpath
import re
import sys
from urllib.parse import unquote

LINE = re.compile(r"^(.*?):(\d+):(\d+): (error|warning): (.*) \[([a-z-]+)\]$")
ORPHAN = re.compile(r"^(.*?): (error|warning): (.*) \[orphan\]$")


def clamp(path):
    """Normalizes a '/'-separated path under the root, as a browser does: '..' stops at the root."""
    out = []
    for seg in path.split("/"):
        if seg in ("", "."):
            continue
        if seg == "..":
            if out:
                out.pop()
        else:
            out.append(seg)
    return "/".join(out)


def resolve(page, ref):
    """The target of REF on PAGE: (path under the root, fragment or None), both percent-decoded."""
    ref = ref.replace("\\", "/")
    frag = None
    if "#" in ref:
        ref, frag = ref.split("#", 1)
        frag = unquote(frag)
    ref = ref.split("?", 1)[0]
    if ref == "":
        return page, frag
    base = "" if ref.startswith("/") else posixpath.dirname(page)
    path = clamp(posixpath.join(base, unquote(ref)))
    return path, frag


def key(path, frag=None):
    path = re.sub(r"(^|/)index\.html$", "", path).rstrip("/")
    return path + ("#" + frag if frag is not None else "")


def read_expected(name, prefix):
    planted, orphans = [], set()
    with open(name, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            m = LINE.match(line)
            if not m:
                o = ORPHAN.match(line)
                if o:
                    orphans.add(o.group(1)[len(prefix):])
                continue
            path, kind, msg = m.group(1)[len(prefix):], m.group(6), m.group(5)
            ref = re.match(r"^'(.*?)'(:| not found| differs| leads| only)", msg).group(1)
            if kind == "file-scheme":
                k = "file:" + ref[len("file://"):]
            elif kind == "missing-anchor":
                target, frag = resolve(path, ref)
                k = key(target, frag)
            else:
                k = key(resolve(path, ref)[0])
            planted.append({"line": line, "kind": kind, "page": path, "key": k})
    return planted, orphans


def strip_root(path, prefix):
    if path.startswith(prefix):
        return path[len(prefix):]
    return path


def read_linkinator(name, prefix, unread):
    """Its broken targets. Status 0 means its own local server gave no answer:
    such a page goes to UNREAD (its links are never checked) unless another
    request for it succeeded."""
    reports = []
    loaded = set()
    with open(name, newline="", encoding="utf-8") as f:
        for row in csv.DictReader(f):
            url = strip_root(row["url"], prefix)
            path, _, frag = url.partition("#")
            path = clamp(unquote(path.split("?", 1)[0]))
            if row["status"] == "200":
                loaded.add(path)
            if row["state"] != "BROKEN":
                continue
            if row["status"] == "0":
                unread.add(path)
                reports.append(("no answer: " + key(path), row["parent"]))
            elif row["status"] == "200" and _:
                reports.append((key(path, unquote(frag)), row["parent"]))
            else:
                reports.append((key(path), row["parent"]))
    unread -= loaded
    return reports


def read_hyperlink(name, prefix):
    reports = []
    with open(name, encoding="utf-8") as f:
        for line in f:
            m = re.match(r"^not ok \d+ (\S+) (.*)$", line.rstrip("\n"))
            if not m:
                continue
            op, rest = m.groups()
            if op == "load":
                target = rest
                if "home/build/site/" in target:
                    reports.append(("file:/home/build/site/" + target.split("home/build/site/", 1)[1], ""))
                else:
                    reports.append((key(clamp(unquote(strip_root(target, prefix)))), ""))
            elif op == "fragment-check":
                src, _, ref = rest.partition(" --> ")
                src = strip_root(src, prefix)
                target, frag = resolve(src, ref)
                reports.append((key(target, frag if frag is not None else ""), src))
            else:
                reports.append(("other: " + line.strip(), ""))
    return reports


def anchors_of(site, path, cache={}):
    if path not in cache:
        names = set()
        for candidate in (path, posixpath.join(path, "index.html")):
            full = os.path.join(site, candidate)
            if os.path.isfile(full):
                with open(full, encoding="utf-8", errors="replace") as f:
                    text = f.read()
                names = set(re.findall(r'\b(?:id|name)="([^"]*)"', text))
                break
        cache[path] = names
    return cache[path]


def why(site, target):
    if target.startswith("other: "):
        return "other"
    if target.startswith("no answer: "):
        return "status 0: its own server did not answer"
    path, hash_, frag = target.partition("#")
    if not hash_:
        full = os.path.join(site, path)
        return "file exists" if os.path.exists(full) else "missing, not planted"
    if frag.lower() == "top":
        return "#top (valid in every browser)"
    if ":~:" in frag:
        return "text fragment (valid)"
    if frag in anchors_of(site, path):
        return "anchor exists (%s)" % ("percent-encoded" if not frag.isascii() else "plain")
    return "anchor missing, not planted"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--expected", required=True)
    ap.add_argument("--site", required=True, help="the site directory as the peer was given it")
    ap.add_argument("--root-name", default="", help="the path prefix of the expected file")
    ap.add_argument("--linkinator")
    ap.add_argument("--hyperlink")
    ap.add_argument("--quiet", action="store_true")
    args = ap.parse_args()
    prefix = args.root_name.rstrip("/") + "/" if args.root_name not in ("", ".") else ""
    planted, orphans = read_expected(args.expected, prefix)
    peer_prefix = args.site.rstrip("/") + "/"
    unread = set()  # pages the peer could not load, so never checked
    if args.linkinator:
        reports = read_linkinator(args.linkinator, peer_prefix, unread)
    else:
        reports = read_hyperlink(args.hyperlink, peer_prefix)
    reported = collections.Counter(k for k, _ in reports)
    planted_keys = {p["key"] for p in planted}

    found = collections.Counter()
    missed = []
    total = collections.Counter(p["kind"] for p in planted)
    for p in planted:
        if p["key"] in reported:
            found[p["kind"]] += 1
        else:
            missed.append(p)
    extra = collections.defaultdict(list)
    for k, n in reported.items():
        if k not in planted_keys:
            extra[why(args.site, k)].append((k, n))

    kinds = sorted(total)
    print("planted and found: " + ", ".join("%s %d/%d" % (k, found[k], total[k]) for k in kinds)
          + "; orphans planted %d (neither peer has an orphan report)" % len(orphans))
    print("missed: %d (%d in orphan pages, which a crawl from the index never reads; "
          "%d in pages it failed to load)" % (len(missed), sum(p["page"] in orphans for p in missed),
                                               sum(p["page"] in unread for p in missed)))
    print("reports: %d of %d distinct targets; not planted: %s" % (
        len(reports), len(reported),
        "; ".join("%s: %d targets, %d reports" % (r, len(v), sum(n for _, n in v))
                  for r, v in sorted(extra.items())) or "none"))
    if args.quiet:
        return
    for p in missed:
        note = " (orphan page)" if p["page"] in orphans else " (page not loaded)" if p["page"] in unread else ""
        print("  missed%s: %s" % (note, p["line"]))
    for r, v in sorted(extra.items()):
        for k, n in sorted(v)[:10]:
            print("  extra [%s] x%d: %s" % (r, n, k))
        if len(v) > 10:
            print("  extra [%s]: ... %d more" % (r, len(v) - 10))


if __name__ == "__main__":
    main()
