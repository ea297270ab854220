"""A relay for tests on 127.0.0.1, started by tests/common/tls_peer.cpp.

    tls_relay.py tls BACKEND PORTFILE CERT KEY   TLS server; each connection whose
                                                 handshake succeeds is relayed to BACKEND
    tls_relay.py connect BACKEND PORTFILE LOG    answers "CONNECT host:port" (logging the
                                                 request line) and relays to BACKEND

The chosen port is written to PORTFILE once the relay listens. It stops by itself after
two minutes.
"""
import os
import select
import socket
import ssl
import sys
import threading
import time

LIFETIME = 120


def relay(client, backend_port):
    backend = socket.create_connection(("127.0.0.1", backend_port), timeout=30)
    try:
        while True:
            ready, _, _ = select.select([client, backend], [], [], 30)
            if not ready:
                return
            for source in ready:
                target = backend if source is client else client
                data = source.recv(65536)
                if not data:
                    return
                target.sendall(data)
                # A TLS record may hold more than one read took.
                while isinstance(source, ssl.SSLSocket) and source.pending():
                    target.sendall(source.recv(65536))
    finally:
        backend.close()


def serve(conn, mode, backend_port, context, log):
    try:
        if mode == "tls":
            conn = context.wrap_socket(conn, server_side=True)
        else:
            head = b""
            while b"\r\n\r\n" not in head and len(head) < 8192:
                chunk = conn.recv(4096)
                if not chunk:
                    return
                head += chunk
            line = head.split(b"\r\n", 1)[0]
            with open(log, "ab") as out:
                out.write(line + b"\n")
            if not line.startswith(b"CONNECT "):
                conn.sendall(b"HTTP/1.0 405 Method Not Allowed\r\n\r\n")
                return
            conn.sendall(b"HTTP/1.0 200 Connection established\r\n\r\n")
        relay(conn, backend_port)
    except (OSError, ssl.SSLError):
        pass
    finally:
        conn.close()


def main():
    mode, backend_port, port_file = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    context, log = None, None
    if mode == "tls":
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[4], sys.argv[5])
    else:
        log = sys.argv[4]
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.bind(("127.0.0.1", 0))
    server.listen(16)
    server.settimeout(0.5)
    with open(port_file + ".tmp", "w") as out:
        out.write(str(server.getsockname()[1]))
    os.rename(port_file + ".tmp", port_file)
    end = time.monotonic() + LIFETIME
    while time.monotonic() < end:
        try:
            conn, _ = server.accept()
        except socket.timeout:
            continue
        conn.settimeout(None)
        threading.Thread(target=serve, args=(conn, mode, backend_port, context, log),
                         daemon=True).start()


if __name__ == "__main__":
    main()
