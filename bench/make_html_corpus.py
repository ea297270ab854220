#!/usr/bin/env python3
"""Writes a folder of real-looking HTML pages for the end-to-end indexing benchmark
(bench/ixoindex_vs_recoll.sh): each page has a head with a charset, a title, a
description and a style sheet, and a body of headings, paragraphs, lists, internal
links and entities, filled with about 9,000 bytes of text cut from the gzip'd
documentation under /usr/share/doc (changelogs, READMEs, manuals). Pages go into 30
subfolders; the same seed gives the same pages on the same machine.

    python3 bench/make_html_corpus.py OUTDIR [COUNT]     # COUNT defaults to 3000
"""
import gzip
import html
import os
import random
import sys


def sources():
    texts = []
    for root, _, files in os.walk('/usr/share/doc'):
        for f in sorted(files):
            if not f.endswith('.gz'):
                continue
            try:
                t = gzip.open(os.path.join(root, f)).read().decode('utf-8')
            except (OSError, UnicodeDecodeError, EOFError):
                continue
            if len(t) > 2000:
                texts.append((f, t))
    texts.sort()
    return texts


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    out, count = sys.argv[1], int(sys.argv[2]) if len(sys.argv) == 3 else 3000
    random.seed(25)
    texts = sources()
    for i in range(count):
        name, text = texts[i % len(texts)]
        lines = [l.strip() for l in text.splitlines() if l.strip()]
        start = random.randrange(max(1, len(lines) - 120))
        body, size = [], 0
        for j, line in enumerate(lines[start:start + 400]):
            e = html.escape(line)
            if j % 17 == 0:
                body.append('<h2 id="s%d">%s</h2>' % (j, e[:80]))
            elif j % 11 == 0:
                body.append('<ul><li>%s</li><li><a href="#s%d">%s</a></li></ul>' % (e, j, e[:30]))
            else:
                body.append('<p>%s &mdash; <em>%s</em></p>' % (e, html.escape(name)))
            size += len(line)
            if size > 9000:
                break
        folder = os.path.join(out, 'd%02d' % (i % 30))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, 'page%05d.html' % i), 'w') as f:
            f.write('<!DOCTYPE html>\n<html lang="en"><head><meta charset="utf-8">\n'
                    '<title>%s part %d</title>\n<meta name="description" content="%s">\n'
                    '<style>body{font-family:sans-serif}</style></head>\n'
                    '<body><div class="main">\n%s\n</div></body></html>\n'
                    % (html.escape(name), i, html.escape(name), '\n'.join(body)))


if __name__ == '__main__':
    main()
