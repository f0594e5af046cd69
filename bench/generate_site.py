#!/usr/bin/env python3
"""Writes a synthetic web site for timing tangler.

    generate_site.py DIR PAGES [SEED]

Every page is about 6 KB and holds about 25 references: links to other pages
(half of them to an anchor), images, "http:" and "mailto:" links, same-page
anchors and now and then a broken link or image. Each page names about 10
anchors. A few images and pages are never mentioned, so the orphan search has
something to report. The same seed gives the same site, byte for byte.
"""
import os
import random
import sys

FILLER = (
    "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod "
    "tempor incididunt ut labore et dolore magna aliqua. Ut enim ad minim "
    "veniam, quis nostrud exercitation ullamco laboris nisi ut aliquip ex ea "
    "commodo consequat. "
)


def page_name(i):
    return "page%05d.htm" % i


def image_name(i):
    return "img%04d.gif" % i


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    out, pages = sys.argv[1], int(sys.argv[2])
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    rng = random.Random(seed)
    images = max(10, pages // 10)
    orphan_pages = set(rng.sample(range(1, pages), max(1, pages // 100))) if pages > 1 else set()
    orphan_images = set(rng.sample(range(images), max(1, images // 20)))
    linkable = [i for i in range(pages) if i not in orphan_pages]
    showable = [i for i in range(images) if i not in orphan_images]
    os.makedirs(out, exist_ok=True)

    for i in range(images):
        with open(os.path.join(out, image_name(i)), "wb") as f:
            f.write(b"GIF89a")

    for i in range(pages):
        parts = ['<html><head><title>Page %d</title></head>\n<body background="%s">\n'
                 % (i, image_name(rng.choice(showable)))]
        for anchor in range(10):
            parts.append('<h2><a name="s%d">Section %d</a></h2>\n' % (anchor, anchor))
            refs = []
            for _ in range(1 + anchor % 2):
                target = page_name(rng.choice(linkable))
                kind = rng.random()
                if kind < 0.5:
                    refs.append('<a href="%s">next</a>' % target)
                elif kind < 0.97:
                    refs.append('<a href="%s#s%d">there</a>' % (target, rng.randrange(10)))
                else:
                    refs.append('<a href="%s#gone">broken anchor</a>' % target)
            kind = rng.random()
            if kind < 0.5:
                refs.append('<img src="%s" alt="picture">' % image_name(rng.choice(showable)))
            elif kind < 0.75:
                refs.append('<a href="http://example.org/%d">out</a>' % rng.randrange(1000))
            elif kind < 0.85:
                refs.append('<a href="#s%d">up</a>' % rng.randrange(10))
            elif kind < 0.95:
                refs.append('<a href="mailto:web%d@example.org">mail</a>' % rng.randrange(100))
            elif kind < 0.98:
                refs.append('<a href="missing%d.htm">broken</a>' % rng.randrange(100))
            else:
                refs.append('<img src="lost%d.gif">' % rng.randrange(100))
            parts.append("<p>" + FILLER + " ".join(refs) + "\n" + FILLER + "</p>\n")
        parts.append("</body></html>\n")
        with open(os.path.join(out, page_name(i)), "w") as f:
            f.write("".join(parts))


if __name__ == "__main__":
    main()
