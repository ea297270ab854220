#!/usr/bin/env python3
"""Makes the agent's data files from the SCOWL word lists of Debian's "scowl" package.

  english.dat  the language stop list: one upper-case word per line
  enc.dat      the term weights: u32 bucket count, u32 compare length, u32 entry count,
               bucket descriptors (u32 first entry, u32 count), then 11-byte entries
               (weight, term zero-padded to 10 bytes); little-endian

SCOWL sorts English words into size levels by how common they are (10: the most common
words, then 20, 35, ...). A term's weight grows with its level, i.e. with rarity; terms of
the rarer levels are left out, as an absent term weighs 255 anyway. Terms are stored in
the form the agent looks them up: upper case, stemmed by libixo's stemmer, so the script
loads the built libixo (pass its path).

Usage: make_agent_data.py --libixo build/lib/libixo.so [--scowl /usr/share/dict/scowl]
                          [--out agent/data]
"""
import argparse
import ctypes
import os
import struct
import sys

# Level of the SCOWL list -> weight of its terms.
LEVEL_WEIGHTS = {10: 24, 20: 64, 35: 128}
COMPARE_LENGTH = 10
TERM_BYTES = 10

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


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--libixo", required=True)
    ap.add_argument("--scowl", default="/usr/share/dict/scowl")
    ap.add_argument("--out", default=os.path.join(os.path.dirname(__file__), "..", "agent", "data"))
    args = ap.parse_args()

    lib = ctypes.CDLL(os.path.abspath(args.libixo))
    lib.ixoStem.argtypes = [ctypes.c_char_p]
    lib.ixoStem.restype = ctypes.c_int32

    def stem(word):
        buf = ctypes.create_string_buffer(word.encode("ascii"), 64)
        lib.ixoStem(buf)
        return buf.value.decode("ascii")

    stop = set(w.upper() for w in STOP_WORDS)
    weights = {}
    for level, weight in sorted(LEVEL_WEIGHTS.items()):
        for variant in ("english", "american"):
            path = os.path.join(args.scowl, "%s-words.%d" % (variant, level))
            if not os.path.exists(path):
                continue
            with open(path, encoding="latin-1") as f:
                for line in f:
                    word = line.strip()
                    if not word or not word.isascii() or not word.isalpha() or not word.islower():
                        continue
                    upper = word.upper()[:20]
                    if upper in stop or len(upper) < 2:
                        continue
                    term = stem(upper)
                    if not term:
                        continue
                    key = term[:20]
                    if key not in weights or weights[key] > weight:
                        weights[key] = weight
    if not weights:
        sys.exit("no SCOWL words found under " + args.scowl)

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
    print("enc.dat: %d terms in %d buckets (%d bytes); english.dat: %d words"
          % (len(terms), buckets, len(out), len(stop)))


if __name__ == "__main__":
    main()
