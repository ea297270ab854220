#!/usr/bin/env python3
"""Turns documents that Debian installs under /usr/share/doc into IDX files for the demo.

Usage: demo_corpus.py OUTDIR [LIMIT]

Reads README, NEWS and other text documents (gzip-compressed ones too), at most LIMIT of
them (default 400), and writes them in batches to OUTDIR/corpus-N.idx. Each document's
reference is its file path, its title the package name and file name. Prints the number
of documents written.
"""
import gzip
import os
import sys

DOC_ROOT = "/usr/share/doc"
NAMES = ("README", "NEWS", "TODO", "FAQ", "AUTHORS", "THANKS", "HISTORY", "CHANGES")
MAX_BYTES = 16000
BATCH = 100


def wanted(name):
    base = name[:-3] if name.endswith(".gz") else name
    if base.lower().endswith((".md", ".txt", ".rst")):
        return True
    return base.split(".")[0].upper() in NAMES


def read_text(path):
    opener = gzip.open if path.endswith(".gz") else open
    try:
        with opener(path, "rb") as f:
            data = f.read(MAX_BYTES)
    except OSError:
        return None
    if b"\0" in data:
        return None
    text = data.decode("latin-1")
    # A content line must not look like an IDX directive.
    lines = [("  " + l if l.startswith("#IXO") else l) for l in text.splitlines()]
    text = "\n".join(lines).strip()
    return text if len(text.split()) >= 40 else None


def main():
    out_dir = sys.argv[1]
    limit = int(sys.argv[2]) if len(sys.argv) > 2 else 400
    os.makedirs(out_dir, exist_ok=True)
    docs = []
    for package in sorted(os.listdir(DOC_ROOT)):
        folder = os.path.join(DOC_ROOT, package)
        if not os.path.isdir(folder) or os.path.islink(folder):
            continue
        for name in sorted(os.listdir(folder)):
            path = os.path.join(folder, name)
            if not os.path.isfile(path) or not wanted(name):
                continue
            text = read_text(path)
            if text:
                title = "%s: %s" % (package, name[:-3] if name.endswith(".gz") else name)
                docs.append("#IXOREFERENCE file://%s\n#IXOTITLE %s\n#IXOCONTENT\n%s\n#IXOENDDOC\n"
                            % (path, title, text))
            if len(docs) >= limit:
                break
        if len(docs) >= limit:
            break
    for i in range(0, len(docs), BATCH):
        with open(os.path.join(out_dir, "corpus-%d.idx" % (i // BATCH)), "w",
                  encoding="latin-1") as f:
            f.write("".join(docs[i:i + BATCH]))
    print(len(docs))


if __name__ == "__main__":
    main()
