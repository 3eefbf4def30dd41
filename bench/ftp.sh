#!/usr/bin/env bash
# 1 GiB over FTP from pyftpdlib on loopback with 4 connections: downloader-cli fetch against
# aria2c and axel, alternating, in one run. Every output is compared with the served file and
# deleted right away, so each command starts from the same state. Prints each run (wall
# time, the client's CPU time, the server's CPU time for that transfer) and the medians.
#   bench/ftp.sh [BUILD_DIR] [RUNS]
# aria2c calls fsync at the end; downloader-cli and axel do not.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build}
runs=${2:-3}
connections=4
ninja -C "$build" downloader-cli >/dev/null
work=$(mktemp -d)
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir "$work/served"
head -c $((1024 * 1024 * 1024)) /dev/urandom >"$work/served/big.bin"
cat "$work/served/big.bin" >/dev/null  # the server reads from the page cache
chmod -R a+rX "$work"

cat >"$work/server.py" <<'PY'
import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import ThreadedFTPServer
logging.basicConfig(filename=sys.argv[3], level=logging.WARNING)
authorizer = DummyAuthorizer()
authorizer.add_anonymous(sys.argv[2], perm="elr")
FTPHandler.authorizer = authorizer
ThreadedFTPServer(("127.0.0.1", int(sys.argv[1])), FTPHandler).serve_forever()
PY
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
/usr/bin/python3 "$work/server.py" "$port" "$work/served" "$work/server.log" &
server_pid=$!
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done
url="ftp://127.0.0.1:$port/big.bin"
ticks=$(getconf CLK_TCK)

server_cpu() {  # user + system seconds of the server so far, all its threads included
  awk -v hz="$ticks" '{ printf "%.2f", ($14 + $15) / hz }' "/proc/$server_pid/stat"
}

run_tool() {  # name -> prints "wall client_cpu server_cpu"
  local out="$work/out-$1-$RANDOM"
  mkdir "$out"
  local before
  before=$(server_cpu)
  case $1 in
    ours) /usr/bin/time -f '%e %U %S' -o "$work/time" \
            "$root/$build/downloader-cli" fetch "$url" "$out/big.bin" \
            --connections "$connections" ;;
    aria2c) /usr/bin/time -f '%e %U %S' -o "$work/time" \
              aria2c -q -x "$connections" -s "$connections" -k 1M --file-allocation=none \
              -d "$out" -o big.bin "$url" ;;
    axel) /usr/bin/time -f '%e %U %S' -o "$work/time" \
            axel -q -n "$connections" -o "$out/big.bin" "$url" >/dev/null ;;
  esac
  local after
  after=$(server_cpu)
  cmp -s "$out/big.bin" "$work/served/big.bin" || { echo "$1: output differs" >&2; exit 1; }
  rm -rf "$out"
  awk -v b="$before" -v a="$after" '{ printf "%s %.2f %.2f\n", $1, $2 + $3, a - b }' "$work/time"
}

tools=(ours aria2c axel)
declare -A wall client server
for i in $(seq "$runs"); do
  line="run $i:"
  # Rotate the order so that no tool always runs first.
  for k in 0 1 2; do
    tool=${tools[$(((i + k) % 3))]}
    read -r w c s < <(run_tool "$tool")
    wall[$tool]+="$w "
    client[$tool]+="$c "
    server[$tool]+="$s "
    line+="  $tool ${w}s (cpu ${c}s, server ${s}s)"
  done
  echo "$line"
done

median() { printf '%s\n' $1 | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
for tool in "${tools[@]}"; do
  w=$(median "${wall[$tool]}")
  awk -v t="$tool" -v w="$w" -v c="$(median "${client[$tool]}")" \
    -v s="$(median "${server[$tool]}")" 'BEGIN {
    printf "median %-6s %6.2fs  %7.1f MiB/s  client cpu %5.2fs  server cpu %5.2fs\n",
           t, w, 1024 / w, c, s }'
done
ours=$(median "${wall[ours]}")
awk -v o="$ours" -v a="$(median "${wall[aria2c]}")" -v x="$(median "${wall[axel]}")" 'BEGIN {
  printf "throughput ratio ours/aria2c %.2f, ours/axel %.2f\n", a / o, x / o }'
