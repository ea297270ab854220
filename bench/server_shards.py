#!/usr/bin/env python3
# usage: server_shards.py IXOSERVER DOCS RUNS [LAYOUT...]
# ixoserver over shards: for each layout ("one": one database in the data folder, "1",
# "2", "3": that many writable xapian-tcpsrv shards on loopback, "L1", "L3": that many
# local shard folders, queried through Xapian's matcher) starts the servers in
# fresh folders, indexes DOCS synthetic documents (about 200 words each, Zipf-like
# vocabulary) in batches of 200, two on their way at a time, as ixoindex sends them, then times the
# agent's 40-term suggestion query (qmethod=E, qnum=6): median and 90th percentile of
# RUNS runs, and queries per second from 4 clients at once for 5 seconds. The CPU time
# the server and the shard servers spent indexing is printed too: on a machine of two
# cores it bounds what sharding can gain.
# With RELAY_MS=N in the environment, the tcpsrv layouts time the query once more with a
# relay (delay_relay.py) in front of each shard server holding every chunk N ms, as a
# network between the query server and the shard servers would.
import os, random, shutil, socket, statistics, subprocess, sys, tempfile, threading, time

bin_, n, runs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
layouts = sys.argv[4:] or ["one", "1", "2", "3"]
relay_ms = os.environ.get("RELAY_MS")
rng = random.Random(7)
vocab = ["w" + "".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(4, 9)))
         for _ in range(30000)]
weights = [1.0 / (i + 1) for i in range(len(vocab))]
print("making %d documents..." % n, flush=True)
batches = []
for b in range(0, n, 200):
    body = "".join(
        "#IXOREFERENCE http://example/page%d.html\n#IXOTITLE Page %d\n#IXOCONTENT\n%s\n#IXOENDDOC\n"
        % (i, i, " ".join(rng.choices(vocab, weights, k=200))) for i in range(b, min(n, b + 200)))
    batches.append(body.encode())
query = "+".join(w.upper() + "~" for w in rng.sample(vocab[30:3000], 40))


def req(port, raw):
    s = socket.create_connection(("127.0.0.1", port))
    s.sendall(raw)
    s.shutdown(socket.SHUT_WR)
    out = b""
    while True:
        b = s.recv(1 << 16)
        if not b:
            break
        out += b
    s.close()
    return out


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    p = s.getsockname()[1]
    s.close()
    return p


def cpu_seconds(pid):
    # User and system time of a process and its waited-for children.
    fields = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
    return sum(int(f) for f in fields[11:15]) / os.sysconf("SC_CLK_TCK")


def process_tree(pid):
    # xapian-tcpsrv serves each connection in a child process.
    out = [pid]
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                parent = int(open("/proc/%s/stat" % entry).read().rsplit(")", 1)[1].split()[1])
            except (OSError, IndexError, ValueError):
                continue
            if parent == pid:
                out += process_tree(int(entry))
    return out


def start_server(home, ini):
    os.makedirs(home + "/ixo")
    open(home + "/ixo/ixo.ini", "w").write(ini)
    server = subprocess.Popen([bin_, "-runhidden", "--home", home])
    while not os.path.exists(home + "/ixo/ports"):
        time.sleep(0.05)
    qp, ip = [int(l.split("=")[1]) for l in open(home + "/ixo/ports").read().split()]
    return server, qp, ip


def time_query(qp, get):
    for _ in range(5):
        req(qp, get)
    times = []
    for _ in range(runs):
        t = time.perf_counter()
        r = req(qp, get)
        times.append((time.perf_counter() - t) * 1000)
        assert b"numhits=6" in r, r[:300]
    times.sort()
    return statistics.median(times), times[int(len(times) * 0.9)]


def run(layout):
    root = tempfile.mkdtemp()
    procs = []
    ports = []
    ini = "[SERVER]\nQUERYPORT=0\nINDEXPORT=0\nINDEXAUTH=OFF\nQUERYAUTH=OFF\nMAXBODYBYTES=268435456\nWORKERTHREADS=8\n"
    if layout.startswith("L"):
        ini += "[SHARDS]\n" + "".join("SHARD%d=%s/shard%d\n" % (k + 1, root, k) for k in range(int(layout[1:])))
    elif layout != "one":
        ini += "[SHARDS]\n"
        for k in range(int(layout)):
            port = free_port()
            procs.append(subprocess.Popen(
                ["xapian-tcpsrv", "--writable", "--interface", "127.0.0.1", "--port", str(port),
                 "--idle-timeout", "0", "%s/shard%d" % (root, k)],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True))
            ini += "SHARD%d=tcp 127.0.0.1:%d\n" % (k + 1, port)
            ports.append(port)
            for _ in range(200):
                try:
                    socket.create_connection(("127.0.0.1", port)).close()
                    break
                except OSError:
                    time.sleep(0.02)
    server, qp, ip = start_server(root + "/home", ini)
    t0 = time.time()
    # Two batches on their way at a time, as ixoindex keeps them: the server builds one
    # while it writes and commits the other.
    pending = list(reversed(batches))
    lock = threading.Lock()

    def sender():
        while True:
            with lock:
                if not pending:
                    return
                body = pending.pop()
            r = req(ip, b"POST /IXOADDDATA? HTTP/1.0\r\nContent-Length: %d\r\n\r\n" % len(body) + body)
            assert b"INDEXID" in r, r[:300]

    senders = [threading.Thread(target=sender) for _ in range(2)]
    for t in senders:
        t.start()
    for t in senders:
        t.join()
    elapsed = time.time() - t0
    server_cpu = cpu_seconds(server.pid)
    shard_cpu = sum(cpu_seconds(q) for p in procs for q in process_tree(p.pid))
    get = ("GET /qmethod=E&querytext=%s&qnum=6&idnum=0 HTTP/1.0\r\n\r\n" % query).encode()
    p50, p90 = time_query(qp, get)
    done = [0]
    stop = time.time() + 5

    def client():
        while time.time() < stop:
            req(qp, get)
            done[0] += 1

    threads = [threading.Thread(target=client) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    print("%-4s shards: indexing %6.0f docs/s (%.1f s; CPU s: server %.1f, shard servers %.1f); "
          "E query p50 %.2f ms, p90 %.2f ms; %.0f queries/s with 4 clients"
          % (layout, n / elapsed, elapsed, server_cpu, shard_cpu, p50, p90, done[0] / 5), flush=True)
    server.terminate()
    server.wait()
    if relay_ms and ports:
        # The same shards once more, each behind a relay that delays it.
        relayed = [free_port() for _ in ports]
        relay = subprocess.Popen(
            [sys.executable, os.path.join(os.path.dirname(os.path.abspath(__file__)), "delay_relay.py"),
             relay_ms] + ["%d:%d" % pair for pair in zip(relayed, ports)])
        time.sleep(0.5)
        shards = "".join("SHARD%d=tcp 127.0.0.1:%d\n" % (k + 1, p) for k, p in enumerate(relayed))
        server, qp, ip = start_server(root + "/relayed", ini.split("[SHARDS]")[0] + "[SHARDS]\n" + shards)
        p50, p90 = time_query(qp, get)
        print("%-4s shards behind a %s ms relay: E query p50 %.2f ms, p90 %.2f ms"
              % (layout, relay_ms, p50, p90), flush=True)
        server.terminate()
        server.wait()
        relay.kill()
        relay.wait()
    for p in procs:
        os.killpg(p.pid, 9)
        p.wait()
    shutil.rmtree(root)


for layout in layouts:
    run(layout)
