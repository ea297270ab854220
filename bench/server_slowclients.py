#!/usr/bin/env python3
# usage: server_slowclients.py IXOSERVER [SLOW]
# Latency of a normal query with SLOW (default 200) idle connections open that each sent
# half a request line, against the same query with none open: median and worst of 200
# queries each. Then the time SIGTERM takes to end the server with them still open.
import os, socket, statistics, subprocess, sys, tempfile, time
bin_, slow = sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 200
home = tempfile.mkdtemp(); os.makedirs(home + "/ixo")
open(home + "/ixo/ixo.ini", "w").write("[SERVER]\nQUERYPORT=0\nINDEXPORT=0\nINDEXAUTH=OFF\nQUERYAUTH=OFF\n")
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
body = "".join("#IXOREFERENCE d%d\n#IXOCONTENT\ndingo number %d\n#IXOENDDOC\n" % (i, i) for i in range(100)).encode()
req(ip, b"POST /IXOADDDATA? HTTP/1.0\r\nContent-Length: %d\r\n\r\n" % len(body) + body)
def measure(n=200, limit=60.0):
    # Stops early once limit seconds are spent (a stalled server); failed replies count.
    t, failed, start = [], 0, time.perf_counter()
    for _ in range(n):
        a = time.perf_counter(); r = req(qp, b"GET /qmethod=q&querytext=dingo&qnum=10 HTTP/1.0\r\n\r\n")
        t.append((time.perf_counter() - a) * 1000); failed += b"numhits=10" not in r
        if time.perf_counter() - start > limit: break
    return statistics.median(t), max(t), len(t), failed
m0, w0, n0, f0 = measure()
conns = []
for i in range(slow):
    s = socket.create_connection(("127.0.0.1", qp if i % 2 else ip)); s.sendall(b"GET /qmethod=q&quer"); conns.append(s)
time.sleep(0.2)
m1, w1, n1, f1 = measure()
print("no idle connections: median %.2f ms, worst %.2f ms (%d queries, %d failed)" % (m0, w0, n0, f0))
print("%d idle connections: median %.2f ms, worst %.2f ms (%d queries, %d failed)" % (slow, m1, w1, n1, f1))
a = time.perf_counter(); p.terminate(); p.wait()
print("SIGTERM to exit with them open: %.0f ms" % ((time.perf_counter() - a) * 1000))
for s in conns: s.close()
subprocess.run(["rm", "-rf", home])
