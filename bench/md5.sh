#!/usr/bin/env bash
# MD5 of a 1 GiB file: the program's streamed digest against md5sum, alternating, in one run.
# Prints each run and the median throughput ratio (ours / md5sum) and our peak memory.
#   bench/md5.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-5}
ninja -C "$build" md5-bench >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c $((1024 * 1024 * 1024)) /dev/urandom >"$work/big.bin"
cat "$work/big.bin" >/dev/null  # both tools read from the page cache

measure() {  # prints "seconds peak_kib"
  /usr/bin/time -f '%e %M' -o "$work/time" "$@" >"$work/out"
  cat "$work/time"
}

ours=() theirs=() mem=()
for i in $(seq "$runs"); do
  read -r t m < <(measure md5sum "$work/big.bin")
  theirs+=("$t")
  read -r t2 m2 < <(measure "$build/md5-bench" "$work/big.bin")
  ours+=("$t2")
  mem+=("$m2")
  echo "run $i: md5sum ${t}s (${m} KiB)  ours ${t2}s (${m2} KiB)"
done
[ "$(cut -d' ' -f1 "$work/out")" = "$(md5sum "$work/big.bin" | cut -d' ' -f1)" ] || {
  echo "digests differ"
  exit 1
}
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
mt=$(median "${theirs[@]}")
mo=$(median "${ours[@]}")
mm=$(median "${mem[@]}")
echo "median md5sum ${mt}s, ours ${mo}s"
awk -v a="$mt" -v b="$mo" -v m="$mm" 'BEGIN {
  printf "throughput ratio ours/md5sum: %.2f (goal >= 0.90)\n", a / b
  printf "our peak memory: %.1f MiB (goal < 64)\n", m / 1024 }'
