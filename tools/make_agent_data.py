#!/usr/bin/env python3
"""Makes the agent's data files.

  english.dat  the language stop list: one upper-case word per line
  enc.dat      the term weights: u32 bucket count, u32 compare length, u32 entry count,
               bucket descriptors (u32 first entry, u32 count), then 11-byte entries
               (weight, term zero-padded to 10 bytes); little-endian

A term's weight (1..254; a term that is not in the table weighs 255) grows with its
rarity, measured three ways over data Debian packages install, each scaled to 0..1:

  - inverse document frequency over the glosses of WordNet ("wordnet-base": every
    synset's words, definition and examples are one document, about 117,000);
  - the tag counts of WordNet's semantic concordance ("cntlist.rev": how often each
    word sense was tagged in a body of ordinary English text);
  - the SCOWL size level of the word ("scowl": levels 10 to 95, the most common words
    in level 10).

The three are blended (0.5, 0.2 and 0.3; a missing measure leaves its share to the
others) and mapped linearly to 4..254. Tokens of markup and addresses (HTTP, WWW, HTML, ...)
weigh 8. Terms are stored in the form the agent looks them up: upper case, stemmed by
libixo's stemmer, so the script loads the built libixo (pass its path).

Usage: make_agent_data.py --libixo build/lib/libixo.so [--scowl /usr/share/dict/scowl]
                          [--wordnet /usr/share/wordnet] [--out agent/data]
       make_agent_data.py --libixo ... --weigh WORD...   (print the weights only)
"""
import argparse
import ctypes
import math
import os
import re
import struct
import sys

COMPARE_LENGTH = 10
TERM_BYTES = 10

# Rarity of each SCOWL level (0 most common, 1 rarest).
LEVEL_RARITY = {10: 0.0, 20: 0.2, 35: 0.4, 40: 0.5, 50: 0.6, 55: 0.68, 60: 0.75, 70: 0.85,
                80: 0.93, 95: 1.0}
# Shares of the measures in the blend.
SHARE_IDF, SHARE_SEMCOR, SHARE_LEVEL = 0.5, 0.2, 0.3
LOWEST, HIGHEST = 4, 254
MARKUP_WEIGHT = 8
# Markup, addresses and file kinds: words of a page's machinery, not of its subject.
MARKUP = """
http https www html htm xhtml xml com org net edu gov href src img div span nbsp amp
quot url uri mailto ftp php asp aspx jsp cgi css js pdf doc txt jpg jpeg gif png
""".split()

# The language stop list: words that say nothing about what a text is about.
STOP_WORDS = """
a about above across after afterwards again against all almost alone along already also
although always am among amongst an and another any anybody anyhow anyone anything anyway
anywhere are aren around as at back be became because become becomes becoming been before
beforehand behind being below beside besides between beyond both but by can cannot cant
could couldn couldnt did didn didnt do does doesn doesnt doing don done dont down during
each either else elsewhere enough etc even ever every everybody everyone everything
everywhere except few for former formerly from further furthermore had hadn hadnt has hasn
hasnt have haven havent having he hed hell hence her here hereafter hereby herein hers
herself hes him himself his how however i id if ill im in indeed instead into is isn isnt
it its itself ive just last latter latterly least less let lets like likely made make
makes many may maybe me meanwhile might mine more moreover most mostly much must mustn
mustnt my myself namely neither never nevertheless next no nobody none noone nor not
nothing now nowhere of off often on once one ones only onto or other others otherwise
ought our ours ourselves out over own per perhaps please put quite rather re really said
same say says see seem seemed seeming seems several shall shan she shed shell shes should
shouldn shouldnt since so some somebody somehow someone something sometime sometimes
somewhere still such than that thats the their theirs them themselves then thence there
thereafter thereby therefore therein theres thereupon these they theyd theyll theyre
theyve this those though through throughout thru thus to together too toward towards under
unless until up upon us very via was wasn wasnt way we wed well were weren werent weve
what whatever whats when whence whenever where whereafter whereas whereby wherein
whereupon wherever whether which while whither who whoever whole whom whos whose why will
with within without won wont would wouldn wouldnt yes yet you youd youll your youre yours
yourself yourselves youve
""".split()


def term_hash(term, buckets):
    h = 0
    for ch in term.encode("ascii"):
        c = ch - 256 if ch > 127 else ch
        h = (h * 131 + c) & 0xFFFFFFFF
    return h % buckets


WORD = re.compile(r"[A-Za-z]+(?:'[A-Za-z]+)*")


def scowl_levels(scowl):
    """Lower-case word -> lowest SCOWL level holding it."""
    levels = {}
    for level in sorted(LEVEL_RARITY):
        for variant in ("english", "american", "british"):
            path = os.path.join(scowl, "%s-words.%d" % (variant, level))
            if not os.path.exists(path):
                continue
            with open(path, encoding="latin-1") as f:
                for line in f:
                    word = line.strip()
                    if word.isascii() and word.isalpha() and word.islower():
                        levels.setdefault(word, level)
    return levels


def wordnet_glosses(wordnet):
    """Each synset's words and gloss, as one text."""
    for part in ("noun", "verb", "adj", "adv"):
        path = os.path.join(wordnet, "data." + part)
        if not os.path.exists(path):
            continue
        with open(path, encoding="latin-1") as f:
            for line in f:
                if line.startswith("  "):
                    continue  # the licence at the top of the file
                head, _, gloss = line.partition(" | ")
                fields = head.split()
                count = int(fields[3], 16)
                lemmas = [fields[4 + 2 * i].split("(")[0].replace("_", " ")
                          for i in range(count)]
                yield " ".join(lemmas) + " " + gloss


def semcor_counts(wordnet):
    """Lower-case single word -> its tag count in the semantic concordance."""
    counts = {}
    path = os.path.join(wordnet, "cntlist.rev")
    if os.path.exists(path):
        with open(path, encoding="latin-1") as f:
            for line in f:
                parts = line.split()
                if len(parts) != 3:
                    continue
                lemma = parts[0].split("%")[0]
                if lemma.isalpha():
                    counts[lemma] = counts.get(lemma, 0) + int(parts[2])
    return counts


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--libixo", required=True)
    ap.add_argument("--scowl", default="/usr/share/dict/scowl")
    ap.add_argument("--wordnet", default="/usr/share/wordnet")
    ap.add_argument("--out", default=os.path.join(os.path.dirname(__file__), "..", "agent", "data"))
    ap.add_argument("--weigh", nargs="*", help="print the weights of these words and stop")
    args = ap.parse_args()

    lib = ctypes.CDLL(os.path.abspath(args.libixo))
    lib.ixoStem.argtypes = [ctypes.c_char_p]
    lib.ixoStem.restype = ctypes.c_int32
    stems = {}

    def stem(upper):
        if upper not in stems:
            buf = ctypes.create_string_buffer(upper.encode("ascii"), 64)
            lib.ixoStem(buf)
            stems[upper] = buf.value.decode("ascii")
        return stems[upper]

    stop = set(w.upper() for w in STOP_WORDS)

    def term_of(word):
        """The term the agent makes of a word (None when it makes none)."""
        upper = word.replace("'", "").upper()[:20]
        if len(upper) < 2 or upper in stop:
            return None
        return stem(upper) or None

    # Document frequencies over the glosses.
    df, docs = {}, 0
    for text in wordnet_glosses(args.wordnet):
        docs += 1
        seen = set()
        for m in WORD.finditer(text):
            t = term_of(m.group())
            if t:
                seen.add(t)
        for t in seen:
            df[t] = df.get(t, 0) + 1
    if not docs:
        sys.exit("no WordNet glosses found under " + args.wordnet)

    levels = {}
    for word, level in scowl_levels(args.scowl).items():
        t = term_of(word)
        if t and (t not in levels or levels[t] > level):
            levels[t] = level
    if not levels:
        sys.exit("no SCOWL words found under " + args.scowl)

    semcor = {}
    for word, n in semcor_counts(args.wordnet).items():
        t = term_of(word)
        if t:
            semcor[t] = semcor.get(t, 0) + n
    top = max(semcor.values()) if semcor else 1

    def rarity_of(t):
        parts = []
        if t in df:
            parts.append((SHARE_IDF, math.log((docs + 1) / (df[t] + 1)) / math.log(docs + 1)))
        if t in semcor:
            parts.append((SHARE_SEMCOR, 1 - math.log(1 + semcor[t]) / math.log(1 + top)))
        if t in levels:
            parts.append((SHARE_LEVEL, LEVEL_RARITY[levels[t]]))
        return sum(share * v for share, v in parts) / sum(share for share, _ in parts)

    # The table holds the terms of the common levels and of the glosses; rarer terms
    # weigh 255 by being absent. (Spreading the blend over the whole range instead
    # pushed useful common terms to the floor and found fewer sources in the quality
    # benchmark.)
    weights = {}
    for t in set(levels) | set(df):
        if levels.get(t, 95) <= 70 or df.get(t, 0) >= 2:
            r = rarity_of(t)
            weights[t] = max(LOWEST, min(HIGHEST, int(round(LOWEST + r * (HIGHEST - LOWEST)))))
    for word in MARKUP:
        t = term_of(word)
        if t:
            weights[t] = MARKUP_WEIGHT

    if args.weigh is not None:
        for word in args.weigh:
            t = term_of(word)
            print("%s %s %s" % (word, t, weights.get(t, 255) if t else "-"))
        return

    terms = sorted(weights)
    buckets = max(1, len(terms) // 4) | 1
    by_bucket = [[] for _ in range(buckets)]
    for t in terms:
        by_bucket[term_hash(t, buckets)].append(t)
    out = bytearray(struct.pack("<III", buckets, COMPARE_LENGTH, len(terms)))
    first = 0
    for entries in by_bucket:
        out += struct.pack("<II", first, len(entries))
        first += len(entries)
    for entries in by_bucket:
        for t in entries:
            out += bytes([weights[t]]) + t[:TERM_BYTES].encode("ascii").ljust(TERM_BYTES, b"\0")

    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "enc.dat"), "wb") as f:
        f.write(out)
    with open(os.path.join(args.out, "english.dat"), "w", encoding="ascii", newline="\n") as f:
        for w in sorted(stop):
            f.write(w + "\n")
    levels_used = len(set(weights.values()))
    print("enc.dat: %d terms in %d buckets (%d bytes, %d weight levels) from %d glosses; "
          "english.dat: %d words" % (len(terms), buckets, len(out), levels_used, docs, len(stop)))


if __name__ == "__main__":
    main()
