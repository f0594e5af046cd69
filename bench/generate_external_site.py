#!/usr/bin/env python3
"""Generates the site and the plan for bench/external_links.sh.

    generate_external_site.py DIR --port PORT [--pages 2000] [--urls 10000]
        [--hosts 50] [--mentions 5] [--seed 1]

DIR/site/ gets index.html, which links every page, and p/NNNN.html, the
pages. Each of the --urls distinct external URLs, http://127.0.20.H:PORT/...
(H from 1 to --hosts; numeric, so that no checker asks a resolver), is
mentioned on --mentions different pages chosen at random. Of the URLs, 5 %
answer 404 ("missing"), 5 % a 302 to a working URL ("redirect"), 2 % a 429
with Retry-After: 1 to the first request and 200 after ("limit"), the rest
200 ("ok"); every host has the same share of each kind, and which URLs
they are is drawn at random.

DIR/plan.json ({"port", "hosts", "mentions", "urls": [[HOST, PATH, KIND], ...]}) is what
external_server.py serves; DIR/expected.txt lists the missing URLs, one a
line, sorted.
"""

import argparse
import json
import os
import random

WORDS = ["guide", "api", "blog", "news", "docs", "ref", "team", "about", "help", "learn",
         "notes", "posts", "wiki", "tools", "data", "media", "store", "forum", "events", "labs"]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("dir")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--pages", type=int, default=2000)
    parser.add_argument("--urls", type=int, default=10000)
    parser.add_argument("--hosts", type=int, default=50)
    parser.add_argument("--mentions", type=int, default=5)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    if not 1 <= args.hosts <= 254 or args.mentions > args.pages:
        parser.error("1 to 254 hosts, and no more mentions than pages")
    rng = random.Random(args.seed)

    hosts = ["127.0.20.%d" % (h + 1) for h in range(args.hosts)]
    counts = [("missing", args.urls * 5 // 100), ("redirect", args.urls * 5 // 100),
              ("limit", args.urls * 2 // 100)]
    # Each kind dealt round the hosts, so that every host has as many of
    # each as any other, give or take one: a polite checker pauses a host
    # for each of its 429s, and a host that drew three times its share
    # would time the draw.
    kinds = []
    for kind, n in counts:
        kinds += [kind] * n
    kinds += ["ok"] * (args.urls - len(kinds))
    per_host = [[] for _ in hosts]
    for i, kind in enumerate(kinds):
        per_host[i % args.hosts].append(kind)
    urls = []
    for h, host_kinds in enumerate(per_host):
        rng.shuffle(host_kinds)
        for kind in host_kinds:
            i = len(urls)
            path = "/%s/%s/%05d.html" % (rng.choice(WORDS), rng.choice(WORDS), i)
            urls.append([hosts[h], path, kind])
    rng.shuffle(urls)

    pages = [[] for _ in range(args.pages)]
    for host, path, _ in urls:
        for p in rng.sample(range(args.pages), args.mentions):
            pages[p].append("http://%s:%d%s" % (host, args.port, path))

    site = os.path.join(args.dir, "site")
    os.makedirs(os.path.join(site, "p"), exist_ok=True)
    with open(os.path.join(site, "index.html"), "w") as out:
        out.write('<!doctype html>\n<html lang="en"><head><meta charset="utf-8">'
                  "<title>Index</title></head><body>\n<h1>Pages</h1>\n<ul>\n")
        for p in range(args.pages):
            out.write('<li><a href="p/%04d.html">Page %d</a></li>\n' % (p, p))
        out.write("</ul>\n</body></html>\n")
    for p, links in enumerate(pages):
        rng.shuffle(links)
        with open(os.path.join(site, "p", "%04d.html" % p), "w") as out:
            out.write('<!doctype html>\n<html lang="en"><head><meta charset="utf-8">'
                      "<title>Page %d</title></head><body>\n<h1>Page %d</h1>\n" % (p, p))
            out.write('<p><a href="../index.html">All pages</a></p>\n')
            for n, link in enumerate(links):
                out.write('<p>Paragraph %d of page %d, with text around <a href="%s">a link'
                          " to read</a> and more text after it.</p>\n" % (n, p, link))
            out.write("</body></html>\n")

    with open(os.path.join(args.dir, "plan.json"), "w") as out:
        json.dump({"port": args.port, "hosts": hosts, "mentions": args.mentions, "urls": urls}, out)
    with open(os.path.join(args.dir, "expected.txt"), "w") as out:
        for host, path, kind in sorted(urls):
            if kind == "missing":
                out.write("http://%s:%d%s\n" % (host, args.port, path))


if __name__ == "__main__":
    main()
