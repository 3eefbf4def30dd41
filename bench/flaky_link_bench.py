#!/usr/bin/env python3
"""Times downloader-cli fetch against aria2c and axel on a link that resets connections
midway. The loopback HTTP server has two modes:

  every         every answer carries half of what was asked (at least 256 KiB; all of it
                when less is left), then the connection is reset;
  first-answer  the first answer for every new range start carries half of what was asked
                (rounded down: a last single byte gets only its header), then the connection
                is reset; a start the server has seen before is answered whole. The
                connection at the end of the file chases it in ever smaller answers, and its
                last one brings nothing: the download is fast only when the connections that
                are done share that range, and take it over rather than let it wait.

    bench/flaky_link_bench.py --cli build/downloader-cli [--mode every|first-answer]
                              [--rounds 5] [--size-mib 64] [--connections 4]
                              [--baseline OTHER-downloader-cli]

--baseline adds another build of downloader-cli (say, of the last release) to every round.
aria2c runs with --max-tries=0: it counts a reset after progress as a failed try and would
otherwise give up after five.

Every round runs every command once, alternating, into a fresh output file; each output
is compared with the source. Per command it prints the median wall time, the slowest run,
how many runs were complete and byte-identical, and how many connections the server saw
per run (how often the link broke). A run that takes longer than --limit seconds is
stopped and counted as failed.
"""
import argparse
import hashlib
import os
import re
import shutil
import socket
import socketserver
import statistics
import struct
import subprocess
import sys
import tempfile
import termios
import fcntl
import threading
import time

MIN_PIECE = 256 << 10


class ResetMidwayHandler(socketserver.BaseRequestHandler):
    def handle(self):
        server = self.server
        with server.lock:
            server.connections += 1
        sock = self.request
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = sock.recv(4096)
            if not chunk:
                return
            data += chunk
        head = data.split(b"\r\n\r\n", 1)[0].decode("latin-1")
        method = head.split(" ", 1)[0]
        size = len(server.body)
        match = re.search(r"(?im)^range:\s*bytes=(\d+)-(\d*)\s*$", head)
        if match:
            first = int(match.group(1))
            last = int(match.group(2)) if match.group(2) else size - 1
            last = min(last, size - 1)
            if first > last:
                sock.sendall(b"HTTP/1.1 416 Range Not Satisfiable\r\nContent-Length: 0\r\n"
                             b"Connection: close\r\n\r\n")
                return
            header = ("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes %d-%d/%d\r\n"
                      "Content-Length: %d\r\nAccept-Ranges: bytes\r\nConnection: close\r\n\r\n"
                      % (first, last, size, last - first + 1))
        else:
            first, last = 0, size - 1
            header = ("HTTP/1.1 200 OK\r\nContent-Length: %d\r\nAccept-Ranges: bytes\r\n"
                      "Connection: close\r\n\r\n" % size)
        sock.sendall(header.encode("latin-1"))
        if method == "HEAD":
            return
        wanted = last - first + 1
        with server.lock:
            seen = first in server.starts
            server.starts.add(first)
        if server.mode == "first-answer":
            piece = wanted if seen else wanted // 2
        else:
            piece = wanted if wanted <= MIN_PIECE else max(wanted // 2, MIN_PIECE)
        try:
            sock.sendall(memoryview(server.body)[first:first + piece])
        except OSError:
            return
        if piece == wanted:
            return
        # Let the peer receive everything sent, then reset: the break comes midway, and no
        # byte that was sent is lost.
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            unsent = struct.unpack("i", fcntl.ioctl(sock, termios.TIOCOUTQ, b"\0\0\0\0"))[0]
            if unsent == 0:
                break
            time.sleep(0.001)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        # Closed here, so that the reset is all the peer sees: the server's own shutdown
        # of the request would send a FIN first.
        sock.close()


class ResetMidwayServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, body, mode):
        super().__init__(("127.0.0.1", 0), ResetMidwayHandler)
        self.body = body
        self.mode = mode
        self.lock = threading.Lock()
        self.connections = 0
        self.starts = set()  # range starts answered since the run began


def commands(cli, baseline, url, out, n):
    fetch = ["fetch", url, out, "--connections", str(n)]
    others = [("baseline-cli", [baseline] + fetch)] if baseline else []
    return [("downloader-cli", [cli] + fetch)] + others + [
        ("aria2c", ["aria2c", "-q", "-x", str(n), "-s", str(n), "-k", "1M",
                    "--file-allocation=none", "--allow-overwrite=true", "--max-tries=0",
                    "-d", os.path.dirname(out), "-o", os.path.basename(out), url]),
        ("axel", ["axel", "-q", "-n", str(n), "-o", out, url]),
    ]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--baseline")
    parser.add_argument("--mode", choices=("every", "first-answer"), default="every")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--size-mib", type=int, default=64)
    parser.add_argument("--connections", type=int, default=4)
    parser.add_argument("--limit", type=float, default=240.0)
    args = parser.parse_args()

    body = os.urandom(args.size_mib << 20)
    digest = hashlib.sha256(body).hexdigest()
    server = ResetMidwayServer(body, args.mode)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = "http://127.0.0.1:%d/file.bin" % server.server_address[1]
    scratch = tempfile.mkdtemp(prefix="flakybench-")
    results = {}
    try:
        for round_ in range(args.rounds):
            for name, argv in commands(args.cli, args.baseline, url,
                                       os.path.join(scratch, "out.bin"), args.connections):
                for leftover in os.listdir(scratch):
                    os.remove(os.path.join(scratch, leftover))
                with server.lock:
                    server.connections = 0
                    server.starts.clear()
                start = time.monotonic()
                try:
                    code = subprocess.run(argv, stdout=subprocess.DEVNULL,
                                          stderr=subprocess.DEVNULL,
                                          timeout=args.limit).returncode
                except subprocess.TimeoutExpired:
                    code = -1
                wall = time.monotonic() - start
                out = os.path.join(scratch, "out.bin")
                same = False
                if code == 0 and os.path.exists(out):
                    with open(out, "rb") as f:
                        same = hashlib.sha256(f.read()).hexdigest() == digest
                with server.lock:
                    used = server.connections
                results.setdefault(name, []).append((wall, same, used))
            print("round %d done" % (round_ + 1), file=sys.stderr)
    finally:
        server.shutdown()
        shutil.rmtree(scratch, ignore_errors=True)

    broken = ("every connection" if args.mode == "every"
              else "the first answer for every new range start")
    print("%d MiB, %d connections, %s reset after half of what it asked for"
          % (args.size_mib, args.connections, broken))
    print("%-15s %9s %9s %10s %12s" % ("command", "median s", "max s", "identical",
                                       "connections"))
    for name in ("downloader-cli", "baseline-cli", "aria2c", "axel"):
        runs = results.get(name, [])
        if not runs:
            continue
        walls = [r[0] for r in runs]
        print("%-15s %9.2f %9.2f %6d of %d %12s" % (
            name, statistics.median(walls), max(walls), sum(1 for r in runs if r[1]), len(runs),
            "/".join(str(r[2]) for r in runs)))
    print("(medians of %d rounds; a run is identical when it exited 0 and its output has the"
          " source's SHA-256)" % args.rounds)


if __name__ == "__main__":
    main()
