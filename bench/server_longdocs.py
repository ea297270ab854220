#!/usr/bin/env python3
# usage: server_longdocs.py IXOSERVER DOCS RUNS [XAPIAN_OR]
# Per-result cost of suggestion queries on an index of long documents (~100 KB each):
# starts BIN (ixoserver) in a fresh home, adds N synthetic documents, then times the
# agent-style 40-term query (qmethod=E) for qnum 6 and 25, median of RUNS runs each.
# With XAPIAN_OR (bench/xapian_or.cpp, built by hand) the same OR query is also timed in
# process on the same index.
import os, random, socket, statistics, subprocess, sys, tempfile, time
bin_, n, runs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(42)
vocab = ["w" + "".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(4, 9))) for _ in range(20000)]
weights = [1.0 / (i + 1) for i in range(len(vocab))]
home = tempfile.mkdtemp()
os.makedirs(home + "/ixo")
open(home + "/ixo/ixo.ini", "w").write("[SERVER]\nQUERYPORT=0\nINDEXPORT=0\nINDEXAUTH=OFF\nQUERYAUTH=OFF\nMAXBODYBYTES=268435456\n")
p = subprocess.Popen([bin_, "-runhidden", "--home", home])
while not os.path.exists(home + "/ixo/ports"): time.sleep(0.05)
qp, ip = [int(l.split("=")[1]) for l in open(home + "/ixo/ports").read().split()]
def req(port, raw):
    s = socket.create_connection(("127.0.0.1", port)); s.sendall(raw); s.shutdown(socket.SHUT_WR)
    out = b""
    while True:
        b = s.recv(1 << 16)
        if not b: break
        out += b
    s.close(); return out
t0 = time.time()
for b in range(0, n, 20):
    body = ""
    for i in range(b, min(n, b + 20)):
        words = rng.choices(vocab, weights, k=15000)
        body += "#IXOREFERENCE http://example/page%d.html\n#IXOTITLE Page %d %s\n#IXOCONTENT\n%s\n#IXOENDDOC\n" % (i, i, " ".join(words[:5]), " ".join(words))
    r = req(ip, b"POST /IXOADDDATA? HTTP/1.0\r\nContent-Length: %d\r\n\r\n" % len(body.encode()) + body.encode())
    assert b"INDEXID" in r, r[:200]
print("indexed %d docs in %.1f s" % (n, time.time() - t0))
query = "+".join(w.upper() + "~" for w in rng.sample(vocab[50:2000], 40))
for qnum in (6, 25):
    times = []
    for _ in range(runs):
        t = time.perf_counter()
        r = req(qp, ("GET /qmethod=E&querytext=%s&qnum=%d&idnum=0 HTTP/1.0\r\n\r\n" % (query, qnum)).encode())
        times.append((time.perf_counter() - t) * 1000)
        assert b"numhits=%d" % qnum in r, r[:300]
    print("qnum=%d: p50 %.2f ms, min %.2f ms" % (qnum, statistics.median(times), min(times)))
p.terminate(); p.wait()
if len(sys.argv) > 4:
    # Xapian's matcher in process on the same index and the same OR query.
    terms = [t.lower().rstrip("~") for t in query.split("+")]
    for qnum in (6, 25):
        out = subprocess.run([sys.argv[4], home + "/ixo/data/xapian", str(qnum), str(runs)] + terms,
                             capture_output=True, text=True).stdout.strip()
        print("xapian in process qnum=%d: %s" % (qnum, out))
subprocess.run(["rm", "-rf", home])
