#!/usr/bin/env bash
# Install time against the number of files: downloader-cli installs a function-plugin
# package of N text files of 1-4 KiB, all in one folder (Mir200/Envir/many/), into a fresh
# root (extraction into a fresh staging folder included), for N = 5000 and 20000,
# alternating, RUNS times each. Prints every run, the medians and their ratio (linear
# growth gives 4). Nothing is deleted before the end (creating files soon after a large
# delete is much slower here).
#   bench/install.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
runs=${2:-5}
ninja -C "$build" downloader-cli >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/install-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

for n in 5000 20000; do
  python3 bench/make_archives.py flat "$work/src-$n" "$n"
  (cd "$work/src-$n" && zip -q -r "$work/$n.zip" .)
  rm -rf "$work/src-$n"
done
sync

# install N: prints the seconds one install into a fresh root took.
install() {
  local run program root start end
  run=$(mktemp -d "$work/run.XXXXXX")
  program="$run/program" root="$run/root"
  mkdir -p "$program" "$root"
  ln "$work/$1.zip" "$program/功能.zip"
  start=$(date +%s%N)
  "$build/downloader-cli" install 功能 --root "$root" --dir "$program" >/dev/null
  end=$(date +%s%N)
  [ "$(find "$root/Mir200/Envir/many" -type f | wc -l)" = "$1" ] || { echo "files missing"; exit 1; }
  echo "scale=3; ($end - $start) / 1000000000" | bc
}

five=() twenty=()
for r in $(seq "$runs"); do
  if [ $((r % 2)) = 1 ]; then
    a=$(install 5000); b=$(install 20000)
  else
    b=$(install 20000); a=$(install 5000)
  fi
  five+=("$a"); twenty+=("$b")
  echo "run $r: 5000 files ${a}s  20000 files ${b}s"
done
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
m5=$(median "${five[@]}"); m20=$(median "${twenty[@]}")
echo "median: 5000 files ${m5}s, 20000 files ${m20}s, ratio $(echo "scale=2; $m20 / $m5" | bc)" \
  "(linear: 4)"
