#!/usr/bin/env python3
"""Times downloader-cli fetch against aria2c, axel and curl on a 1 GiB file from nginx on
loopback.

    bench/http_fetch_bench.py --cli build/downloader-cli [--rounds 5] [--size-mib 1024]
    bench/http_fetch_bench.py --cli build/downloader-cli --https --size-mib 512

With --https nginx serves TLS (1.2/1.3) with a certificate from a CA the script makes with
the openssl command; every tool is told to trust that CA (SSL_CERT_FILE, --cacert,
--ca-certificate) and verifies the server. axel is left out there. The "vs curl" column
compares with curl -o FILE (one connection) at every N.

Every round runs every command once, alternating, for 1, 2, 4 and 8 connections (curl
only for 1). Before each command the previous command's output is deleted, so every
command meets the same state of the file system (writing fresh pages right after a large
delete costs differently than a while later). Per command it records wall time, CPU time
(user + system, from wait4) and peak anonymous memory (RssAnon + RssShmem sampled from
/proc every 5 ms: pages of a mapped output file are not counted, for every tool alike).
It prints medians and the ratios to the best peer. aria2c calls fsync at the end; curl,
axel and downloader-cli do not.
"""
import argparse
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

NGINX_CONF = """daemon off;
worker_processes 2;
pid {work}/nginx.pid;
error_log {work}/error.log;
events {{ worker_connections 256; }}
http {{
  access_log off;
  default_type application/octet-stream;
  client_body_temp_path {work}/client_temp;
  proxy_temp_path {work}/proxy_temp;
  fastcgi_temp_path {work}/fastcgi_temp;
  uwsgi_temp_path {work}/uwsgi_temp;
  scgi_temp_path {work}/scgi_temp;
  sendfile on;
  server {{
    listen 127.0.0.1:{port}{tls};
    root {root};
  }}
}}
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_ca(work):
    """A CA and a server certificate for 127.0.0.1; returns (ca file, cert file, key file)."""
    def run(*argv):
        subprocess.run(argv, cwd=work, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
    key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    run("openssl", "req", "-x509", *key, "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
        "-subj", "/CN=bench-ca", "-addext", "basicConstraints=critical,CA:TRUE")
    run("openssl", "req", "-new", *key, "-keyout", "server.key", "-out", "server.csr",
        "-subj", "/CN=127.0.0.1")
    with open(os.path.join(work, "san.ext"), "w") as f:
        f.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n")
    run("openssl", "x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
        "-CAcreateserial", "-days", "2", "-extfile", "san.ext", "-out", "server.pem")
    return tuple(os.path.join(work, n) for n in ("ca.pem", "server.pem", "server.key"))


def start_nginx(work, root, cert=None):
    port = free_port()
    conf = os.path.join(work, "nginx.conf")
    tls = ""
    if cert:
        tls = (" ssl;\n    ssl_certificate %s;\n    ssl_certificate_key %s;\n"
               "    ssl_protocols TLSv1.2 TLSv1.3" % cert)
    with open(conf, "w") as f:
        user = "user nobody nogroup;\n" if os.geteuid() == 0 else ""
        f.write(user + NGINX_CONF.format(work=work, root=root, port=port, tls=tls))
    nginx = shutil.which("nginx") or "/usr/sbin/nginx"
    proc = subprocess.Popen([nginx, "-p", work + "/", "-c", conf])
    for _ in range(500):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.1).close()
            return proc, port
        except OSError:
            time.sleep(0.02)
    proc.kill()
    sys.exit("nginx did not start")


def anon_kib(pid):
    total = 0
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith(("RssAnon:", "RssShmem:")):
                    total += int(line.split()[1])
    except OSError:
        return 0
    return total


def run_measured(argv):
    """Runs argv; returns (ok, wall seconds, cpu seconds, peak anonymous KiB)."""
    start = time.monotonic()
    proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    peak = 0
    while True:
        pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
        if pid != 0:
            break
        peak = max(peak, anon_kib(proc.pid))
        time.sleep(0.005)
    wall = time.monotonic() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    return proc.returncode == 0, wall, usage.ru_utime + usage.ru_stime, peak


def commands(cli, url, out, n, ca=None):
    trust = ["--ca-certificate=" + ca] if ca else []
    cmds = [
        ("downloader-cli", [cli, "fetch", url, out, "--connections", str(n)]),
        ("aria2c", ["aria2c", "-q", "-x", str(n), "-s", str(n), "-k", "1M",
                    "--file-allocation=none", "--allow-overwrite=true", *trust,
                    "-d", os.path.dirname(out), "-o", os.path.basename(out), url]),
    ]
    if not ca:
        cmds.append(("axel", ["axel", "-q", "-n", str(n), "-o", out, url]))
    if n == 1:
        cmds.append(("curl", ["curl", "-s", *(["--cacert", ca] if ca else []), "-o", out, url]))
    return cmds


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--size-mib", type=int, default=1024)
    parser.add_argument("--connections", default="1,2,4,8")
    parser.add_argument("--dir", default=None, help="scratch folder (default: a new temp folder)")
    parser.add_argument("--https", action="store_true", help="TLS with a CA made for the run")
    args = parser.parse_args()
    counts = [int(c) for c in args.connections.split(",")]

    scratch = tempfile.mkdtemp(prefix="httpbench-", dir=args.dir)
    os.chmod(scratch, 0o755)
    root = os.path.join(scratch, "www")
    work = os.path.join(scratch, "nginx")
    outdir = os.path.join(scratch, "out")
    for d in (root, work, outdir):
        os.makedirs(d)
        os.chmod(d, 0o755)
    source = os.path.join(root, "file.bin")
    with open(source, "wb") as f:
        block = os.urandom(1 << 20)
        for _ in range(args.size_mib):
            f.write(block)
    os.chmod(source, 0o644)
    ca = None
    cert = None
    if args.https:
        ca, *cert = make_ca(work)
        cert = tuple(cert)
        os.environ["SSL_CERT_FILE"] = ca  # downloader-cli trusts the CA as any OpenSSL client
    nginx, port = start_nginx(work, root, cert)
    url = "%s://127.0.0.1:%d/file.bin" % ("https" if ca else "http", port)
    results = {}
    try:
        # Warm the page cache of the source once so every command reads from memory.
        subprocess.run(["cat", source], stdout=subprocess.DEVNULL, check=True)
        for round_ in range(args.rounds):
            for n in counts:
                for name, argv in commands(args.cli, url, os.path.join(outdir, "out.bin"), n,
                                           ca):
                    for leftover in os.listdir(outdir):
                        os.remove(os.path.join(outdir, leftover))
                    ok, wall, cpu, peak = run_measured(argv)
                    size = os.path.getsize(os.path.join(outdir, "out.bin")) if ok else -1
                    if not ok or size != args.size_mib << 20:
                        print("%s -n %d failed (size %d)" % (name, n, size), file=sys.stderr)
                        continue
                    results.setdefault((n, name), []).append((wall, cpu, peak))
            print("round %d done" % (round_ + 1), file=sys.stderr)
    finally:
        nginx.send_signal(signal.SIGTERM)
        nginx.wait()
        shutil.rmtree(scratch, ignore_errors=True)

    gib = args.size_mib / 1024.0
    print("%-4s %-15s %9s %9s %9s | %7s %7s %8s" %
          ("N", "command", "wall s", "cpu s/GiB", "peak MiB", "wall/x", "cpu/x", "vs curl"))
    curl_runs = results.get((1, "curl"))
    curl_med = tuple(statistics.median(r[i] for r in curl_runs) for i in range(3)) \
        if curl_runs else None
    for n in counts:
        med = {}
        for (count, name), runs in results.items():
            if count == n:
                med[name] = tuple(statistics.median(r[i] for r in runs) for i in range(3))
        if curl_med and "curl" not in med and args.https:
            med["curl"] = curl_med
        peers = [med[p] for p in ("aria2c", "axel") if p in med]
        best_wall = min(p[0] for p in peers) if peers else float("nan")
        best_cpu = min(p[1] for p in peers) if peers else float("nan")
        for name in ("downloader-cli", "aria2c", "axel", "curl"):
            if name not in med:
                continue
            wall, cpu, peak = med[name]
            vs_curl = ("%8.2f" % (wall / med["curl"][0])) if "curl" in med else "%8s" % "-"
            label = "curl (N=1)" if name == "curl" and n != 1 else name
            print("%-4d %-15s %9.2f %9.2f %9.1f | %7.2f %7.2f %s" %
                  (n, label, wall, cpu / gib, peak / 1024.0, wall / best_wall, cpu / best_cpu,
                   vs_curl))
    print("(medians of %d rounds; x = the better of aria2c and axel at that N;"
          " peak = anonymous + shared memory, mapped file pages excluded)" % args.rounds)


if __name__ == "__main__":
    main()
