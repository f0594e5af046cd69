#!/usr/bin/env python3
"""Writes a nested documentation site, with planted faults, for timing and
checking tangler-site, and the report tangler-site should give on it.

    generate_nested_site.py [--seed N] [--expected FILE] [--root-name NAME]
                            DIR PAGES

The site looks like a documentation generator's output: docs/SECTION/CHAPTER/
and docs/SECTION/CHAPTER/TOPIC/ directories, each with an index.html, pages of
about 8 to 15 KB with a navigation bar, breadcrumbs, a side table of contents
and about 20 to 40 references: page-relative ("../x/y.html#a") and
root-relative ("/x/y.html") links, directory links ("../x/"), `id` and
`<a name>` anchors, images with `srcset`, a style sheet whose url() and
@import name fonts and images, external, mailto and javascript links, links
inside comments and scripts that are no references at all.

Planted faults: missing files (pages, images, a directory without an index, a
style sheet's asset, style attributes and <style> elements), missing anchors
(on other pages and on the page itself, percent-encoded ones too), letter-case
mismatches, references that climb out of the site, file: references, and
orphan pages and images that nothing references.

FILE (default: DIR.expected.txt, beside DIR) receives one line per planted
finding in tangler-site's text format, sorted as it sorts them, with paths
written as NAME/PATH (NAME: the ROOT argument tangler-site will be given;
default: none, for a run from inside DIR with ROOT omitted). So

    (cd DIR && tangler-site --orphans=warning) | diff FILE -

shows every planted fault that was missed and every finding that was not
planted. The same seed and page count give the same bytes.
"""
import argparse
import os
import posixpath
import random
import re
import sys

SECTION_WORDS = [
    "getting-started", "tutorial", "reference", "howto", "api", "internals",
    "deployment", "security", "testing", "migration", "plugins", "faq",
    "contributing", "architecture", "performance", "glossary",
]
CHAPTER_WORDS = [
    "overview", "install", "configuration", "models", "views", "templates",
    "forms", "storage", "caching", "logging", "signals", "middleware",
    "commands", "settings", "sessions", "auth",
]
TOPIC_WORDS = ["advanced", "examples", "recipes", "details", "notes", "patterns"]
PAGE_WORDS = [
    "intro", "basics", "options", "usage", "limits", "errors", "upgrade",
    "backends", "queries", "fields", "widgets", "filters", "hooks", "events",
    "timeouts", "retries", "tokens", "headers", "cookies", "encoding",
]
SENTENCES = [
    "Each setting is read once when the process starts, so a change takes "
    "effect on the next restart; the defaults suit a small site served from "
    "one machine.",
    "Larger installations usually tune the pool sizes, the cache lifetime and "
    "the logging level &mdash; each brings its own trade-offs.",
    "The caf\u00e9 example below shows a complete configuration, with the "
    "values a busy shop would use at lunchtime.",
    "When two options disagree, the one given on the command line wins over "
    "the one in the file, and both win over the built-in default.",
    "Errors are reported with the name of the file and the line, so that an "
    "editor can jump straight to the place that needs a fix.",
    "Nothing here needs a restart of the database: the new value is picked up "
    "by the next connection that the pool opens.",
    "The <code>timeout</code> is in seconds; a value of <code>0</code> means "
    "wait forever, which is rarely what you want in production.",
    "See the release notes for the versions in which each of these options "
    "appeared, and for the ones that are deprecated.",
]
CODE = (
    '<div class="highlight"><pre><span class="n">config</span> = {\n'
    '    <span class="s">"pool"</span>: 8,\n'
    '    <span class="s">"template"</span>: <span class="s">"&lt;a href=&quot;%s&quot;&gt;"</span>,\n'
    '}\n</pre></div>\n'
)
CHAPTERS_PER_SECTION = 8
PAGES_PER_CHAPTER = 18
PAGES_PER_TOPIC = 10
ROOT_PAGES = ["index.html", "404.html", "about.html", "search.html"]


class Page:
    def __init__(self, path, title):
        self.path = path  # under the root, '/'-separated
        self.dir = posixpath.dirname(path)
        self.title = title
        self.is_index = posixpath.basename(path) == "index.html"
        self.orphan = False
        self.anchors = []
        self.children = []  # for an index: pages and sub-directory indexes it lists
        self.images = []
        self.faults = []  # (where, html with markers), placed in the body
        self.umlaut = False


def lay_out(total):
    """Every page of the site, in creation order; index pages first in their directory."""
    pages = [Page(p, p[:-5].replace("-", " ").title()) for p in ROOT_PAGES]
    pages.append(Page("docs/index.html", "Documentation"))
    docs_index = pages[-1]

    def add(path, title, parent):
        page = Page(path, title)
        pages.append(page)
        if parent is not None:
            parent.children.append(page)
        return page

    section = 0
    while len(pages) < total:
        sname = SECTION_WORDS[section % len(SECTION_WORDS)]
        if section >= len(SECTION_WORDS):
            sname += "-%d" % (section // len(SECTION_WORDS) + 1)
        sdir = "docs/" + sname
        sindex = add(sdir + "/index.html", sname.replace("-", " ").title(), docs_index)
        for chapter in range(CHAPTERS_PER_SECTION):
            if len(pages) >= total:
                break
            cname = CHAPTER_WORDS[(section + chapter) % len(CHAPTER_WORDS)]
            cdir = "%s/%02d-%s" % (sdir, chapter + 1, cname)
            cindex = add(cdir + "/index.html", cname.title(), sindex)
            for i in range(PAGES_PER_CHAPTER):
                if len(pages) >= total:
                    break
                word = PAGE_WORDS[(chapter * 7 + i) % len(PAGE_WORDS)]
                add("%s/%s-%02d.html" % (cdir, word, i + 1), "%s %d" % (word.title(), i + 1), cindex)
            if chapter % 2 == 1 and len(pages) < total:
                tname = TOPIC_WORDS[(section + chapter) % len(TOPIC_WORDS)]
                tdir = cdir + "/" + tname
                tindex = add(tdir + "/index.html", tname.title(), cindex)
                for i in range(PAGES_PER_TOPIC):
                    if len(pages) >= total:
                        break
                    word = PAGE_WORDS[(section + i * 3) % len(PAGE_WORDS)]
                    add("%s/%s-%02d.html" % (tdir, word, i + 1), "%s %d" % (word.title(), i + 1), tindex)
        section += 1
    return pages[:total] if total >= len(ROOT_PAGES) + 1 else pages


class Markers:
    """Planted findings placed in text by markers, turned into lines and columns later."""

    def __init__(self):
        self.items = []  # (kind, level, message, sequence)

    def mark(self, kind, level, message):
        self.items.append((kind, level, message))
        return "\x00%d\x00" % (len(self.items) - 1)


MARKER = re.compile(rb"\x00(\d+)\x00")


def place(text, markers, path, prefix, out):
    """Removes the markers from the page's bytes and records each finding at its line and column."""
    data = text.encode("utf-8")
    pieces = []
    line, line_start, written = 1, 0, 0  # line_start: output offset where the current line begins
    last = 0
    for m in MARKER.finditer(data):
        chunk = data[last:m.start()]
        pieces.append(chunk)
        newlines = chunk.count(b"\n")
        if newlines:
            line += newlines
            line_start = written + chunk.rindex(b"\n") + 1
        written += len(chunk)
        kind, level, message = markers.items[int(m.group(1))]
        out.append((prefix + path, 1, line, written - line_start + 1, len(out), kind, level, message))
        last = m.end()
    pieces.append(data[last:])
    return b"".join(pieces)


def rel(src_dir, target):
    r = posixpath.relpath(target, src_dir or ".")
    return r


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("dir")
    ap.add_argument("pages", type=int)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--expected")
    ap.add_argument("--root-name", default="")
    args = ap.parse_args()
    if args.pages < 20:
        sys.exit("generate_nested_site.py: PAGES must be at least 20")
    out_dir = args.dir.rstrip("/") or "/"
    expected_path = args.expected or out_dir + ".expected.txt"
    name = args.root_name.rstrip("/")
    prefix = "" if name in ("", ".") else name + "/"
    rng = random.Random(args.seed)
    n = args.pages

    pages = lay_out(n)
    by_path = {p.path: p for p in pages}
    leaves = [p for p in pages if not p.is_index and p.dir]
    for p in pages:
        count = 3 + rng.randrange(4)
        p.anchors = ["sec-%d" % (k + 1) for k in range(count)]
        p.umlaut = rng.random() < 0.15

    # Orphans: leaf pages nothing links to. They still link out.
    for p in rng.sample(leaves, max(2, n // 250)):
        p.orphan = True
    linkable = [p for p in pages if not p.orphan and p.path not in ("404.html",)]
    linkable_leaves = [p for p in leaves if not p.orphan]

    # Images: fig-NNNN.png, every other one with a @2x twin used in srcset.
    image_count = max(12, n // 8)
    images = ["assets/img/fig-%04d.png" % i for i in range(image_count)]
    orphan_images = set(rng.sample(range(image_count), max(1, image_count // 50)))
    used_images = [i for i in range(image_count) if i not in orphan_images]
    for k, i in enumerate(used_images):
        pages[k % len(pages)].images.append(i)  # every used image is on some page
    for p in pages:
        if rng.random() < 0.5:
            p.images.append(rng.choice(used_images))

    markers = Markers()
    found = []  # (path, 0 orphan / 1 other, line, column, sequence, kind, level, message)

    def page_msg(p):
        return prefix + p.path

    # Planted faults, each placed in a host page's body.
    def plant_missing_file(host):
        style = rng.randrange(6)
        if style == 0:
            ref = "removed-%02d.html" % rng.randrange(100)
        elif style == 1:
            ref = "/docs/%s/old-chapter/index.html" % rng.choice(SECTION_WORDS)
        elif style == 2:
            ref = rel(host.dir, "assets/img/fig-%04d.png" % (image_count + rng.randrange(1000)))
            host.faults.append('<img src="%s%s" alt="figure">' % (markers.mark("missing-file", "error", "'%s' not found" % ref), ref))
            return
        elif style == 3:
            ref_html = "renamed-%02d.html?lang=en&amp;v=2" % rng.randrange(100)
            ref = ref_html.replace("&amp;", "&")
            host.faults.append('<a href="%s%s">renamed</a>' % (markers.mark("missing-file", "error", "'%s' not found" % ref), ref_html))
            return
        elif style == 4:
            ref = rel(host.dir, "docs/no-such-guide") + "/"
        else:
            ref = "/assets/img/"  # a directory with no index file
        host.faults.append('<a href="%s%s">more</a>' % (markers.mark("missing-file", "error", "'%s' not found" % ref), ref))

    def plant_missing_anchor(host):
        style = rng.randrange(4)
        if style == 0:  # on the page itself
            frag = "sec-%d" % (len(host.anchors) + 1 + rng.randrange(5))
            ref, target, shown = "#" + frag, host, frag
        else:
            target = rng.choice(linkable)
            if style == 1:
                frag = "sec-%d" % (len(target.anchors) + 1 + rng.randrange(5))
                shown = frag
            elif style == 2:
                frag = "removed-section-%d" % rng.randrange(50)
                shown = frag
            else:
                frag, shown = "caf%C3%A9-notes", "caf\u00e9-notes"
            path = rel(host.dir, target.path) if rng.random() < 0.6 else "/" + target.path
            if target is host:
                path = ""
            ref = path + "#" + frag
        msg = "'%s': %s has no anchor '%s'" % (ref, page_msg(target), shown)
        host.faults.append('<a href="%s%s">see</a>' % (markers.mark("missing-anchor", "error", msg), ref))

    def plant_case_mismatch(host):
        target = rng.choice(linkable_leaves)
        if rng.random() < 0.5:
            ref = rel(host.dir, target.path)
            head, base = posixpath.split(ref)
            base = base[0].upper() + base[1:]
            ref = posixpath.join(head, base) if head else base
        else:
            parts = target.path.split("/")
            k = rng.randrange(len(parts) - 1)
            parts[k] = parts[k].upper()
            ref = "/" + "/".join(parts)
        if target is host or ref == rel(host.dir, target.path):
            return plant_case_mismatch(host)
        msg = "'%s' differs in letter case from the stored '%s'" % (ref, page_msg(target))
        host.faults.append('<a href="%s%s">old name</a>' % (markers.mark("case-mismatch", "error", msg), ref))

    def plant_outside(host):
        depth = host.path.count("/")
        ref = "../" * (depth + 1) + rng.choice(["outside.html", "shared/logo.png", "etc/site.css"])
        host.faults.append('<a href="%s%s">up</a>' % (markers.mark("outside-root", "error", "'%s' leads outside the site" % ref), ref))

    def plant_file_scheme(host):
        ref = "file:///home/build/site/" + host.path
        host.faults.append('<a href="%s%s">local copy</a>' % (markers.mark("file-scheme", "warning", "'%s' only works on this computer" % ref), ref))

    counts = {
        "missing-file": max(3, n // 150),
        "missing-anchor": max(3, n // 150),
        "case-mismatch": max(2, n // 300),
        "outside-root": max(1, n // 2000),
        "file-scheme": max(1, n // 2000),
    }
    planters = {
        "missing-file": plant_missing_file, "missing-anchor": plant_missing_anchor,
        "case-mismatch": plant_case_mismatch, "outside-root": plant_outside,
        "file-scheme": plant_file_scheme,
    }
    for kind in sorted(counts):
        for _ in range(counts[kind]):
            planters[kind](rng.choice(pages))
    # One missing asset in a style attribute and one in a <style> element.
    style_attr_host = rng.choice(leaves)
    style_elem_host = rng.choice(leaves)

    os.makedirs(out_dir, exist_ok=True)

    def write(path, data):
        full = os.path.join(out_dir, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode("utf-8"))

    # Assets. A PNG signature is enough: images are never read.
    png = b"\x89PNG\r\n\x1a\n" + bytes(56)
    for i in range(image_count):
        write(images[i], png)
        if i % 2 == 0:
            write(images[i].replace(".png", "@2x.png"), png)
    for name in ["bg-paper.png", "logo.png", "logo-print.png", "hero.jpg"]:
        write("assets/img/" + name, png)
    for name in ["icons/note.svg", "icons/warning.svg"]:
        write("assets/img/" + name, '<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16"/>\n')
    write("assets/fonts/body.woff2", b"wOF2" + bytes(60))
    write("assets/fonts/body.woff", b"wOFF" + bytes(60))
    write("assets/js/site.js", "document.documentElement.classList.add('js');\n"
          "// '<a href=\"not-a-link.html\">' is only text here\n")
    write("assets/downloads/release notes.pdf", b"%PDF-1.4\n")
    write("favicon.ico", bytes(32))
    write("robots.txt", "User-agent: *\nAllow: /\n")
    write("sitemap.xml", '<?xml version="1.0"?>\n<urlset></urlset>\n')
    write(".buildinfo", "config: 0123456789abcdef\n")  # hidden: never read, never an orphan
    css = (
        '@import "print.css";\n'
        "/* url(commented-out.png) is no reference */\n"
        "@font-face {\n  font-family: Body;\n"
        '  src: url("../fonts/body.woff2") format("woff2"), url(../fonts/body.woff) format("woff");\n}\n'
        "body { font: 16px/1.5 Body, sans-serif; background: #fff url(../img/bg-paper.png) repeat; }\n"
        ".logo { background-image: url('../img/logo.png'); }\n"
        ".note::before { content: url(../img/icons/note.svg); }\n"
        ".warning::before { content: url(/assets/img/icons/warning.svg); }\n"
        ".nav a:hover { color: #0645ad; }\n"
    )
    write("assets/css/site.css", css)
    print_css = (
        "@media print {\n  .nav, .sidebar { display: none; }\n"
        "  .logo { background-image: url(../img/logo-print.png); }\n"
        "  .banner { background-image: %surl(../img/print-banner.png); }\n}\n"
        % markers.mark("missing-file", "error", "'../img/print-banner.png' not found")
    )
    write("assets/css/print.css", place(print_css, markers, "assets/css/print.css", prefix, found))

    section_indexes = [p for p in pages if p.path.count("/") == 2 and p.is_index]

    def link(host, target, frag=None):
        if rng.random() < 0.6:
            if target.is_index and target.dir and rng.random() < 0.3:
                ref = rel(host.dir, target.dir) + "/"
            else:
                ref = rel(host.dir, target.path)
        else:
            ref = "/" + (target.dir + "/" if target.is_index and target.dir else target.path)
        if frag:
            ref += "#" + frag
        return ref

    for p in pages:
        up = rel(p.dir, "assets")
        parts = []
        a = parts.append
        a("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n")
        a('<meta name="viewport" content="width=device-width, initial-scale=1">\n')
        a("<title>%s &mdash; Example Docs 4.2</title>\n" % p.title)
        a('<link rel="stylesheet" href="%s/css/site.css" type="text/css">\n' % up)
        a('<link rel="icon" href="/favicon.ico">\n')
        a('<link rel="canonical" href="https://docs.example.org/%s">\n' % p.path)
        a('<script src="%s/js/site.js" defer></script>\n' % up)
        a("<script>\n  var tpl = '<a href=\"missing-template.html\">' + document.title + '</a>';\n</script>\n")
        if p.is_index:
            a("<style>\n  .hero { background-image: url(\"%s/img/hero.jpg\"); }\n</style>\n" % up)
        if p is style_elem_host:
            a("<style>\n  .hero { background-image: %surl(\"%s/img/missing-hero.jpg\"); }\n</style>\n"
              % (markers.mark("missing-file", "error", "'%s/img/missing-hero.jpg' not found" % up), up))
        a("</head>\n<body>\n")
        a('<div class="nav" id="top-nav" role="navigation">\n<a class="logo" href="/">Example Docs</a>\n')
        a('<a href="/docs/">Documentation</a>\n')
        for s in section_indexes[:2]:
            a('<a href="/%s/">%s</a>\n' % (s.dir, s.title))
        a('<a href="/search.html">Search</a> <a href="/about.html">About</a>\n</div>\n')
        # Breadcrumbs up the tree, each an index page of an ancestor.
        a('<nav class="breadcrumbs" aria-label="breadcrumbs">\n')
        d = p.dir
        crumbs = []
        while d:
            crumbs.append('<a href="%s">%s</a>' % (rel(p.dir, d + "/index.html"), posixpath.basename(d)))
            d = posixpath.dirname(d)
        a(" &raquo;\n".join(reversed(crumbs)) + "\n</nav>\n")
        a('<div class="document" id="content" role="main">\n')
        if p is style_attr_host:
            a('<div class="banner" style="%sbackground: url(\'/assets/img/missing-banner.jpg\') no-repeat">\n</div>\n'
              % markers.mark("missing-file", "error", "'/assets/img/missing-banner.jpg' not found"))
        a('<h1 id="page-title">%s<a class="headerlink" href="#page-title" title="Permanent link">&para;</a></h1>\n' % p.title)
        if p.umlaut:
            a('<p id="\u00fcber-blick">%s</p>\n' % " ".join(SENTENCES[:3]))
        if p.is_index:
            a('<div class="toctree-wrapper compound">\n<ul>\n')
            for c in p.children:
                if c.orphan:
                    continue
                ref = rel(p.dir, c.dir) + "/" if c.is_index else rel(p.dir, c.path)
                a('<li class="toctree-l1"><a class="reference internal" href="%s">%s</a></li>\n' % (ref, c.title))
            a("</ul>\n</div>\n")
        faults = list(p.faults)
        rng.shuffle(faults)
        for k, anchor in enumerate(p.anchors):
            a('<section id="%s">\n<h2>Part %d</h2>\n' % (anchor, k + 1))
            if k == 1:
                a('<a name="legacy-%d"></a>\n' % (k + 1))
            for para in range(3):
                links = []
                for _ in range((rng.random() < 0.6) + (rng.random() < 0.1)):
                    t = rng.choice(linkable)
                    r = rng.random()
                    if r < 0.45:
                        ref = link(p, t, rng.choice(t.anchors))
                    elif r < 0.5 and t.umlaut:
                        ref = link(p, t, "%C3%BCber-blick")
                    elif r < 0.53:
                        ref = link(p, t, "top")
                    else:
                        ref = link(p, t)
                    links.append('<a class="reference internal" href="%s">%s</a>' % (ref, t.title))
                r = rng.random()
                if r < 0.1:
                    links.append('<a class="reference external" href="https://www.example.com/blog/%d">the blog</a>' % rng.randrange(500))
                elif r < 0.15:
                    links.append('<a href="mailto:docs@example.org?subject=Page%%20%d">write to us</a>' % rng.randrange(500))
                elif r < 0.18:
                    links.append('<a href="javascript:void(0)" onclick="toggle()">toggle</a>')
                elif r < 0.2:
                    links.append('<a href="%s/downloads/release%%20notes.pdf">release notes</a>' % up)
                elif r < 0.22:
                    links.append('<a href="#:~:text=pool%20sizes">pool sizes</a>')
                if faults and para == 1:
                    links.append(faults.pop())
                text = " ".join(rng.sample(SENTENCES, 4))
                a("<p>%s %s</p>\n" % (text, ", ".join(links)) if links else "<p>%s</p>\n" % text)
                if para == 2 and k % 2 == 0:
                    a(CODE % ("removed-%d.html" % k))
            if k == 0:
                for i in p.images:
                    src = rel(p.dir, images[i])
                    if i % 2 == 0:
                        twin = src.replace(".png", "@2x.png")
                        a('<figure>\n<img src="%s" srcset="%s 1x, %s 2x" alt="Figure %d" width="640" height="360">\n'
                          '<figcaption>Figure %d</figcaption>\n</figure>\n' % (src, src, twin, i, i))
                    else:
                        a('<figure><img src="%s" alt="Figure %d"></figure>\n' % (src, i))
                a("<!-- left from an older edition: <a href=\"retired.html\">retired</a> -->\n")
            a("</section>\n")
        while faults:
            a("<p>See also %s.</p>\n" % faults.pop())
        a("</div>\n")
        a('<div class="sphinxsidebar" id="sidebar" role="navigation">\n<h3>On this page</h3>\n<ul>\n')
        for anchor in p.anchors:
            a('<li><a class="reference internal" href="#%s">%s</a></li>\n' % (anchor, anchor.replace("-", " ")))
        a("</ul>\n</div>\n")
        a('<footer id="footer">\n')
        if p.dir and not p.is_index:
            siblings = [c for c in by_path[p.dir + "/index.html"].children if not c.orphan and not c.is_index]
            if p in siblings:
                i = siblings.index(p)
                if i > 0:
                    a('<a href="%s" rel="prev">previous</a>\n' % rel(p.dir, siblings[i - 1].path))
                if i + 1 < len(siblings):
                    a('<a href="%s" rel="next">next</a>\n' % rel(p.dir, siblings[i + 1].path))
        if p.is_index:
            a('<a href="%s/downloads/release%%20notes.pdf">Release notes (PDF)</a>\n' % up)
        a('<a href="#top">back to top</a> <a href="https://github.com/example/docs/edit/main/%s">Edit this page</a>\n'
          '&copy; 2024 Example &amp; contributors.\n</footer>\n</body>\n</html>\n' % p.path)
        write(p.path, place("".join(parts), markers, p.path, prefix, found))

    for p in pages:
        if p.orphan:
            found.append((prefix + p.path, 0, 0, 0, 0, "orphan", "warning", "not referenced by any page"))
    for i in sorted(orphan_images):
        names = [images[i]] + ([images[i].replace(".png", "@2x.png")] if i % 2 == 0 else [])
        for name in names:
            found.append((prefix + name, 0, 0, 0, 0, "orphan", "warning", "not referenced by any page"))

    found.sort(key=lambda f: (f[0].encode("utf-8"), f[1], f[2], f[3], f[4]))
    with open(expected_path, "w", encoding="utf-8") as f:
        for path, is_other, line, col, _, kind, level, message in found:
            if is_other:
                f.write("%s:%d:%d: %s: %s [%s]\n" % (path, line, col, level, message, kind))
            else:
                f.write("%s: %s: %s [%s]\n" % (path, level, message, kind))
    tally = {}
    for f in found:
        tally[f[5]] = tally.get(f[5], 0) + 1
    print("%s: %d pages; planted %s" % (out_dir, len(pages), ", ".join(
        "%s %d" % (k, tally[k]) for k in sorted(tally))), file=sys.stderr)


if __name__ == "__main__":
    main()
