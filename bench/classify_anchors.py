#!/usr/bin/env python3
"""Sorts the missing-anchor findings of a tangler-site report on a tree into
the reasons they were reported, reading the target pages to tell:

  percent-encoded  the fragment as written (percent-encoded) equals an id or
                   name on the target page: a browser first looks for the
                   fragment as written, so the link works;
  redirect         the target page is a redirect stub (its first
                   <meta http-equiv="refresh"> has delay 0 and a URL without
                   a fragment that leads to a page under the tree), whose
                   script carries the fragment on; the stub is followed up
                   to 8 times and the fragment looked for (as written, then
                   decoded) on the page it ends at: "found", "not found",
                   or "loop" (a stub leads back, or more than 8);
  source-lines     a line or a range of lines of a rustdoc source page
                   (src/...rs.html#N or #N-M), whose line anchors rustdoc's
                   script makes on the fly;
  rest             everything else.

A finding goes to the first class that fits, in this order.

    classify_anchors.py [--list CLASS]... TREE REPORT

TREE is the directory tangler-site was run on, REPORT its report as
`-f json` (version 1 or 2) or text, made with ROOT omitted (run from inside
TREE) or with ROOT naming TREE: the paths in the report must be relative to
TREE. Prints the count of each class, then every finding of the "rest"
(PATH:LINE: REFERENCE -> PAGE#FRAGMENT) and of each class given with --list.

Pages are tokenized with Python's html.parser: ids of every element, names
of A elements, character references decoded; the first <base href> sets the
base a redirect's URL resolves against.
"""
import argparse
import collections
import json
import os
import posixpath
import re
import signal
import sys
from html.parser import HTMLParser
from urllib.parse import unquote

CLASSES = ["percent-encoded", "redirect", "source-lines", "rest"]
TEXT_LINE = re.compile(r"^(.*?):(\d+):(\d+): error: (.*) \[missing-anchor\]$")
SCHEME = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:")
SOURCE_LINES = re.compile(r"^src/.*\.rs\.html$")
LINE_FRAGMENT = re.compile(r"^\d+(-\d+)?$")
WHITESPACE = " \t\n\f\r"
MAX_REDIRECTS = 8


class PageReader(HTMLParser):
    """Collects a page's anchors, its first base href and its first meta refresh."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.anchors = set()
        self.base = None
        self.refresh = None  # the content of the first meta refresh

    def handle_starttag(self, tag, attrs):
        first = {}
        for name, value in attrs:  # of two equal attribute names the first wins
            first.setdefault(name, value if value is not None else "")
        if "id" in first:
            self.anchors.add(first["id"])
        if tag == "a" and "name" in first:
            self.anchors.add(first["name"])
        if tag == "base" and self.base is None and "href" in first:
            self.base = first["href"]
        if (tag == "meta" and self.refresh is None
                and first.get("http-equiv", "").strip(WHITESPACE).lower() == "refresh"
                and "content" in first):
            self.refresh = first["content"]

    handle_startendtag = handle_starttag


def refresh_target(content):
    """(delay, URL) of a meta refresh's content as browsers read it, URL None
    for the page itself; None when browsers ignore it."""
    i, n = 0, len(content)

    def skip_space(i):
        while i < n and content[i] in WHITESPACE:
            i += 1
        return i

    i = skip_space(i)
    start = i
    while i < n and content[i].isdigit() and content[i].isascii():
        i += 1
    if i == start and not (i < n and content[i] == "."):
        return None
    delay = int(content[start:i]) if i > start else 0
    while i < n and (content[i] == "." or (content[i].isdigit() and content[i].isascii())):
        i += 1
    if i == n:
        return delay, None
    if content[i] not in ";," + WHITESPACE:
        return None
    i = skip_space(i)
    if i < n and content[i] in ";,":
        i = skip_space(i + 1)
    if i == n:
        return delay, None
    url = content[i:]
    j = i
    parse_now = False
    if content[j] in "Uu":
        j += 1
        if j < n and content[j] in "Rr" and j + 1 < n and content[j + 1] in "Ll":
            j = skip_space(j + 2)
            if j < n and content[j] == "=":
                j = skip_space(j + 1)
            else:
                parse_now = True
        else:
            parse_now = True
    if not parse_now:
        quote = content[j] if j < n and content[j] in "'\"" else ""
        url = content[j + len(quote):]
        if quote and quote in url:
            url = url[:url.index(quote)]
    return delay, url


def clamp(path):
    """A '/'-separated path under the tree with '.' and '..' resolved; None above the tree."""
    out = []
    for seg in path.split("/"):
        if seg in ("", "."):
            continue
        if seg == "..":
            if not out:
                return None
            out.pop()
        else:
            out.append(seg)
    return "/".join(out)


class Tree:
    def __init__(self, root):
        self.root = root
        self.pages = {}

    def page(self, path):
        """The PageReader of the page at PATH under the tree (None when it is no readable page)."""
        if path not in self.pages:
            reader = None
            full = os.path.join(self.root, path)
            if os.path.isfile(full) and path.lower().endswith((".html", ".htm")):
                reader = PageReader()
                with open(full, encoding="utf-8", errors="replace") as f:
                    reader.feed(f.read())
                reader.close()
            self.pages[path] = reader
        return self.pages[path]

    def resolve(self, page, url):
        """The page under the tree that URL on PAGE leads to, or None."""
        url = url.strip(WHITESPACE).replace("\t", "").replace("\n", "").replace("\r", "")
        if "#" in url:
            return None  # a refresh URL with its own fragment is no redirect stub
        url = url.split("?", 1)[0].replace("\\", "/")
        base = self.page(page).base
        if base is not None:
            base = base.strip(WHITESPACE)
            if SCHEME.match(base) or base.startswith("//"):
                return None
            base_dir = base.split("#", 1)[0].split("?", 1)[0].replace("\\", "/")
            base_dir = base_dir[:base_dir.rfind("/") + 1]
            if not base_dir.startswith("/"):
                base_dir = posixpath.join(posixpath.dirname(page), base_dir)
            base_dir = clamp(unquote(base_dir)) or ""
        else:
            base_dir = posixpath.dirname(page)
        if SCHEME.match(url) or url.startswith("//"):
            return None
        if url == "":
            return page
        path = clamp(unquote(url) if url.startswith("/") else posixpath.join(base_dir, unquote(url)))
        if path is None:
            return None
        full = os.path.join(self.root, path)
        if os.path.isdir(full) or url.endswith("/"):
            for index in ("index.html", "index.htm"):
                if os.path.isfile(os.path.join(full, index)):
                    return posixpath.join(path, index) if path else index
            return None
        return path if self.page(path) is not None else None

    def redirect(self, path):
        """Where the redirect stub PATH leads: the page at the end, "loop", or None when PATH is no stub."""
        seen = [path]
        while True:
            reader = self.page(seen[-1])
            target = None
            if reader is not None and reader.refresh is not None:
                parsed = refresh_target(reader.refresh)
                if parsed is not None and parsed[0] == 0 and parsed[1] is not None:
                    target = self.resolve(seen[-1], parsed[1])
            if target is None:
                return seen[-1] if len(seen) > 1 else None
            if target in seen or len(seen) > MAX_REDIRECTS:
                return "loop"
            seen.append(target)


def has_anchor(reader, written):
    return written in reader.anchors or unquote(written) in reader.anchors


def read_findings(name):
    """(path, line, reference, page) of each missing-anchor finding of a JSON or text report."""
    with open(name, encoding="utf-8", errors="replace") as f:
        text = f.read()
    out = []
    if text.lstrip().startswith("{"):
        for f in json.loads(text)["findings"]:
            if f["kind"] == "missing-anchor":
                out.append((f["path"], f["line"], f["reference"], f["message"]))
    else:
        for line in text.splitlines():
            m = TEXT_LINE.match(line)
            if m:
                message = m.group(4)
                ref = re.match(r"^'(.*)': .* has no anchor '.*'$", message).group(1)
                out.append((m.group(1), int(m.group(2)), ref, message))
    result = []
    for path, line, ref, message in out:
        prefix = "'%s': " % ref
        page = message[len(prefix):message.rindex(" has no anchor '")]
        result.append((path, line, ref, page))
    return result


def main():
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)  # quiet under "| head"
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("tree")
    ap.add_argument("report")
    ap.add_argument("--list", action="append", default=[], choices=CLASSES,
                    help="also list every finding of this class")
    args = ap.parse_args()
    tree = Tree(args.tree)
    prefix = args.tree.rstrip("/") + "/"
    classes = collections.defaultdict(list)
    redirect_ends = collections.Counter()
    findings = read_findings(args.report)
    for path, line, ref, page in findings:
        if page.startswith(prefix) and not os.path.exists(os.path.join(args.tree, page)):
            page = page[len(prefix):]
        if path.startswith(prefix) and not os.path.exists(os.path.join(args.tree, path)):
            path = path[len(prefix):]
        written = ref.split("#", 1)[1] if "#" in ref else ""
        reader = tree.page(page)
        if reader is None:
            sys.exit("classify_anchors.py: %s is no page under %s" % (page, args.tree))
        if written in reader.anchors:
            cls, note = "percent-encoded", ""
        else:
            end = tree.redirect(page)
            if end == "loop":
                cls, note = "redirect", "loop"
            elif end is not None:
                cls = "redirect"
                note = "found" if has_anchor(tree.page(end), written) else "not found at " + end
            elif SOURCE_LINES.match(page) and LINE_FRAGMENT.match(unquote(written)):
                cls, note = "source-lines", ""
            else:
                cls, note = "rest", ""
        if cls == "redirect":
            redirect_ends[note.split(" at ")[0]] += 1
        classes[cls].append((path, line, ref, page, written, note))

    print("missing-anchor findings: %d" % len(findings))
    for cls in CLASSES:
        extra = ""
        if cls == "redirect" and classes[cls]:
            extra = " (anchor at the end of the redirects: %s)" % ", ".join(
                "%s %d" % (k, v) for k, v in sorted(redirect_ends.items()))
        print("  %-16s %d%s" % (cls, len(classes[cls]), extra))
    for cls in CLASSES:
        if cls != "rest" and cls not in args.list:
            continue
        print("\n%s:" % cls)
        for path, line, ref, page, written, note in classes[cls]:
            print("  %s:%d: %s -> %s#%s%s" % (path, line, ref, page, written,
                                              " (%s)" % note if note else ""))


if __name__ == "__main__":
    main()
