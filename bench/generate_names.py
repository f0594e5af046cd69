#!/usr/bin/env python3
"""Writes a directory that is hard on the orphan search's memory.

    generate_names.py DIR NAMES [SEED]

NAMES empty files whose names are 12 to 40 characters drawn at random from 70
distinct characters (capital and small letters, digits and eight marks),
each ending in one of the seven extensions the orphan search looks for, and
one page, index.htm, that names a few of them. The same seed gives the same
directory.
"""
import os
import random
import string
import sys

ALPHABET = string.ascii_letters + string.digits + "-_+=,;@!"
EXTENSIONS = [".htm", ".html", ".jpg", ".gif", ".png", ".exe", ".zip", ".dmg"]


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    out, count = sys.argv[1], int(sys.argv[2])
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    rng = random.Random(seed)
    assert len(ALPHABET) == 70
    os.makedirs(out, exist_ok=True)
    names = set()
    while len(names) < count:
        extension = rng.choice(EXTENSIONS)
        size = rng.randint(12, 40) - len(extension)
        name = "".join(rng.choice(ALPHABET) for _ in range(size)) + extension
        if name.lower() not in names:
            names.add(name.lower())
            open(os.path.join(out, name), "wb").close()
    with open(os.path.join(out, "index.htm"), "w") as page:
        mentioned = rng.sample(sorted(names), min(10, len(names)))
        page.write("<html><body>\n")
        for name in mentioned:
            page.write('<a href="%s">%s</a>\n' % (name, name))
        page.write("</body></html>\n")


if __name__ == "__main__":
    main()
