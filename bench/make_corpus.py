#!/usr/bin/env python3
"""Builds the text corpus of the server benchmark from documentation that Debian packages
install: manual pages; the manuals of the kernel, Python, Perl, PostgreSQL, Git, Django,
Node.js, pandas, SciPy, scikit-learn and Qt; the Java class library reference; the Debian
reference; a dictionary of English and one of computing; WordNet's glosses; and the
fortune cookie files. With the packages of a Debian 12 machine it gives about 105,000
documents (200 MB).

Each source text is reduced to its words (markup dropped) and cut into documents of
about 300 words. A document whose sampled 8-word shingles were mostly seen before is
left out: near-duplicates (licence texts, the same option table in many pages) would
make the suggestion-quality figure measure the corpus instead of the ranking.

Output: one document per line, "reference<TAB>title<TAB>words", source by source;
a summary per source goes to standard error.

    bench/make_corpus.py --install            # the Debian packages (root, apt-get)
    bench/make_corpus.py -o build/bench-corpus.tsv
"""

import argparse
import glob
import gzip
import html.parser
import os
import re
import subprocess
import sys
import zlib

PACKAGES = [
    "man-db", "manpages", "manpages-dev", "linux-doc-6.1", "python3.11-doc", "perl-doc",
    "postgresql-doc-15", "git-doc", "dict-gcide", "dict-foldoc", "openjdk-17-doc",
    "python-django-doc", "nodejs-doc", "debian-reference-en", "wordnet-base", "fortunes",
    "python-pandas-doc", "python-scipy-doc", "python-sklearn-doc", "qt5-doc-html",
]

WORDS_PER_DOC = 300
SHORTEST_DOC = 120


def read_text(path):
    opener = gzip.open if path.endswith((".gz", ".dz")) else open
    with opener(path, "rb") as f:
        return f.read().decode("utf-8", "replace")


class _TextOnly(html.parser.HTMLParser):
    """Collects the text of an HTML page outside scripts, styles and navigation."""

    SKIP = {"script", "style", "head", "nav"}

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.parts, self.depth = [], 0

    def handle_starttag(self, tag, attrs):
        if tag in self.SKIP:
            self.depth += 1

    def handle_endtag(self, tag):
        if tag in self.SKIP and self.depth:
            self.depth -= 1

    def handle_data(self, data):
        if not self.depth:
            self.parts.append(data)


def html_text(text):
    p = _TextOnly()
    p.feed(text)
    return " ".join(p.parts)


_TROFF_ESCAPE = re.compile(r"\\(f.|s[-+]?\d|\(..|\[[^\]]*\]|.)")


def man_text(text):
    lines = (l for l in text.splitlines() if l and l[0] not in ".'")
    return _TROFF_ESCAPE.sub(" ", "\n".join(lines))


_RST_DIRECTIVE = re.compile(r"^\s*\.\. ")
_RST_ROLE = re.compile(r":[a-z:+-]+:`")


def rst_text(text):
    # Directives and comments go, section underlines and role names too; the text
    # of the roles stays.
    kept = []
    for line in text.splitlines():
        if _RST_DIRECTIVE.match(line) or re.fullmatch(r"\s*([=\-~^*#+`':.\"_])\1{2,}\s*", line):
            continue
        kept.append(_RST_ROLE.sub("`", line))
    return "\n".join(kept)


def pod_text(text):
    return "\n".join(l for l in text.splitlines() if not l.startswith("="))


_WORD_EDGE = re.compile(r"^[^\w]+|[^\w.]+$|\.+$")


def words_of(text):
    out = []
    for token in text.split():
        token = _WORD_EDGE.sub("", token)
        if token and any(c.isalpha() for c in token) and len(token) < 40:
            out.append(token)
    return out


def gcide_entries(path):
    """The dictionary's entries, in file order; each starts at a line of its own with
    the headword in angle-bracket markup stripped."""
    text = read_text(path)
    text = re.sub(r"<[^>]*>", " ", text)
    text = re.sub(r"\[(1913 Webster|PJC|WordNet 1\.5|Century Dict\.)[^\]]*\]", " ", text)
    return [e for e in re.split(r"\n(?=\S)", text) if e.strip()]


def blocks(name, entries, size=2000):
    """Consecutive entries of a word list as texts of `size` entries each, so that the
    cutting into 300-word documents gives documents of neighbouring headwords."""
    for i in range(0, len(entries), size):
        head = entries[i].split()
        yield "block%06d" % i, "%s from %s" % (name, head[0] if head else i), "\n".join(entries[i:i + size])


def wordnet_glosses():
    entries = []
    for pos in ("noun", "verb", "adj", "adv"):
        with open("/usr/share/wordnet/data." + pos, encoding="latin-1") as f:
            for line in f:
                if line.startswith("  ") or "|" not in line:
                    continue  # the licence header
                fields, gloss = line.split("|", 1)
                f = fields.split()
                count = int(f[3], 16)
                lemmas = [w.replace("_", " ") for w in f[4:4 + 2 * count:2]]
                entries.append("%s: %s" % (", ".join(lemmas), gloss.strip()))
    return entries


def sources():
    """(name, reference prefix, iterator of (id, title, text)) in a fixed order."""

    def man():
        for p in sorted(glob.glob("/usr/share/man/man*/*.gz")):
            if not os.path.islink(p):
                yield os.path.relpath(p, "/usr/share/man"), os.path.basename(p)[:-3], man_text(read_text(p))

    def kernel():
        root = "/usr/share/doc/linux-doc-6.1/Documentation"
        for p in sorted(glob.glob(root + "/**/*.rst.gz", recursive=True)):
            yield os.path.relpath(p, root)[:-3], os.path.basename(p)[:-7], rst_text(read_text(p))

    def python():
        root = "/usr/share/doc/python3.11/html/_sources"
        for p in sorted(glob.glob(root + "/**/*.rst.txt", recursive=True)):
            yield os.path.relpath(p, root)[:-8], os.path.basename(p)[:-8], rst_text(read_text(p))

    def perl():
        for p in sorted(glob.glob("/usr/share/perl/5.*/pod/*.pod")):
            yield os.path.basename(p), os.path.basename(p)[:-4], pod_text(read_text(p))

    def postgres():
        for p in sorted(glob.glob("/usr/share/doc/postgresql-doc-15/html/*.html")):
            yield os.path.basename(p), os.path.basename(p)[:-5], html_text(read_text(p))

    def git():
        for p in sorted(glob.glob("/usr/share/doc/git-doc/*.txt")):
            yield os.path.basename(p), os.path.basename(p)[:-4], read_text(p)

    def html_tree(root, skip=("_modules/", "_static/")):
        # Highlighted source code and page templates are not prose.
        def gen():
            for p in sorted(glob.glob(root + "/**/*.html", recursive=True)):
                rel = os.path.relpath(p, root)
                if any(rel.startswith(s) or ("/" + s) in rel for s in skip):
                    continue
                yield rel[:-5], os.path.basename(p)[:-5], html_text(read_text(p))
        return gen

    def dictionary(path, name):
        def gen():
            if os.path.exists(path):
                yield from blocks(name, gcide_entries(path))
        return gen

    def wordnet():
        if os.path.exists("/usr/share/wordnet/data.noun"):
            yield from blocks("wordnet", wordnet_glosses())

    def fortunes():
        for p in sorted(glob.glob("/usr/share/games/fortunes/*")):
            if os.path.isfile(p) and "." not in os.path.basename(p):
                yield os.path.basename(p), "fortunes " + os.path.basename(p), read_text(p)

    return [("man", "man:", man), ("kernel", "kernel:", kernel), ("python", "python:", python),
            ("perl", "perl:", perl), ("postgresql", "postgresql:", postgres), ("git", "git:", git),
            ("gcide", "gcide:", dictionary("/usr/share/dictd/gcide.dict.dz", "gcide")),
            ("foldoc", "foldoc:", dictionary("/usr/share/dictd/foldoc.dict.dz", "foldoc")),
            ("jdk", "jdk:", html_tree("/usr/share/doc/openjdk-17-jre-headless/api")),
            ("django", "django:", html_tree("/usr/share/doc/python-django-doc/html")),
            ("nodejs", "nodejs:", html_tree("/usr/share/doc/nodejs/api")),
            ("debref", "debref:", html_tree("/usr/share/debian-reference")),
            ("wordnet", "wordnet:", wordnet), ("fortunes", "fortunes:", fortunes),
            ("pandas", "pandas:", html_tree("/usr/share/doc/python-pandas-doc/html")),
            ("scipy", "scipy:", html_tree("/usr/share/doc/python-scipy-doc/html")),
            ("sklearn", "sklearn:", html_tree("/usr/share/doc/python-sklearn-doc/html")),
            ("qt", "qt:", html_tree("/usr/share/qt5/doc"))]


class Deduplicator:
    def __init__(self):
        self.seen = set()

    def fresh(self, words):
        sampled = []
        for i in range(len(words) - 7):
            h = zlib.crc32(" ".join(words[i:i + 8]).encode())
            if h % 16 == 0:
                sampled.append(h)
        known = sum(1 for h in sampled if h in self.seen)
        if not sampled or known * 2 > len(sampled):
            return False
        self.seen.update(sampled)
        return True


def clean(text):
    return text.replace("\t", " ").replace("\n", " ").replace("\r", " ")


def build(out, limit):
    dedup = Deduplicator()
    total = 0
    for name, prefix, gen in sources():
        made = dropped = 0
        for ident, title, text in gen():
            words = words_of(text)
            for part, start in enumerate(range(0, len(words), WORDS_PER_DOC)):
                chunk = words[start:start + WORDS_PER_DOC]
                if len(chunk) < SHORTEST_DOC:
                    continue
                if not dedup.fresh(chunk):
                    dropped += 1
                    continue
                out.write("%s%s#%d\t%s\t%s\n" % (prefix, clean(ident), part,
                                                  clean("%s part %d" % (title, part)),
                                                  " ".join(chunk)))
                made += 1
                total += 1
                if limit and total >= limit:
                    break
            if limit and total >= limit:
                break
        print("%-11s %7d documents, %6d near-duplicates left out" % (name, made, dropped),
              file=sys.stderr)
        if limit and total >= limit:
            break
    print("total       %7d documents" % total, file=sys.stderr)
    return total


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("-o", "--output", default="build/bench-corpus.tsv",
                    help="corpus file to write (default: %(default)s)")
    ap.add_argument("--limit", type=int, default=0, help="stop after this many documents")
    ap.add_argument("--install", action="store_true",
                    help="install the Debian packages the corpus is made from, then stop")
    args = ap.parse_args()
    if args.install:
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        return subprocess.call(["apt-get", "install", "-y", "--no-install-recommends"] + PACKAGES,
                               env=env)
    os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
    tmp = args.output + ".tmp"
    with open(tmp, "w", encoding="latin-1", errors="replace") as out:
        build(out, args.limit)
    os.replace(tmp, args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
