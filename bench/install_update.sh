#!/usr/bin/env bash
# Installing a release over the previous release's tree, into two roots: ours (downloader-cli
# install, a transaction per root: backups, fsync of every new file and folder) against an
# older downloader-cli (OLD_CLI, e.g. one built from the commit before installs became
# transactions: it copies every file and flushes nothing) and against `unzip -q -o` into a
# staging folder plus `cp -r` into both roots (neither flushes anything). Releases: about
# 490 MiB in 2000 mixed files below mir200/ (bench/make_archives.py release), the next one
# changing 5 % of the files, or all of them (20 new files each). Also an unchanged reinstall
# against a full install into two empty roots (ours alone).
#
# Every timed command gets the same preparation: two fresh roots copied from the previous
# release (or empty), then `sync`, so no one pays for another's dirty pages. The commands
# alternate (the starting one rotates from run to run) and nothing is deleted before the end
# (creating files soon after a large delete is much slower here): a run takes about 11 GB.
# Each command is timed to its end, and again to the end of a `sync` right after it (the time
# until what it wrote is on disk). Prints every run, then the medians and their ratios.
#   bench/install_update.sh [BUILD_DIR] OLD_CLI [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
old=$(realpath "${2:?usage: bench/install_update.sh [BUILD_DIR] OLD_CLI [RUNS]}")
runs=${3:-3}
ninja -C "$build" downloader-cli >/dev/null
for tool in unzip zip; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/setup installs it)"; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/install-update-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "making the releases in $work ..."
for percent in 0 5 100; do
  python3 bench/make_archives.py release "$work/tree-$percent" "$percent"
  (cd "$work/tree-$percent" && zip -q -r "$work/release-$percent.zip" .)
done
sync
ls -l "$work"/*.zip

seconds() { echo "scale=2; $1 / 1000000000" | bc | sed 's/^\./0./'; }

# prepare base|empty: a new run folder with a program folder and roots a and b holding the
# base release (or nothing), flushed to disk; prints its path.
prepare() {
  local run
  run=$(mktemp -d "$work/run.XXXXXX")
  mkdir "$run/program"
  if [ "$1" = base ]; then
    cp -r "$work/tree-0" "$run/a"
    cp -r "$work/tree-0" "$run/b"
  else
    mkdir "$run/a" "$run/b"
  fi
  sync
  echo "$run"
}

# install TOOL PERCENT base|empty: installs release PERCENT into the two roots of a prepared
# run folder; prints the seconds it took and the seconds until a `sync` after it returned,
# then the run folder.
install() {
  local tool=$1 percent=$2 run start end
  run=$(prepare "$3")
  case $tool in
    ours | today)
      ln "$work/release-$percent.zip" "$run/program/三端.zip"
      local cli=$build/downloader-cli
      [ "$tool" = today ] && cli=$old
      set -- "$cli" install 三端 --root "$run/a" --root "$run/b" --dir "$run/program"
      ;;
    pair)
      set -- sh -c 'unzip -q -o "$1" -d "$2/staging" && cp -r "$2/staging/." "$2/a/" &&
        cp -r "$2/staging/." "$2/b/"' sh "$work/release-$percent.zip" "$run"
      ;;
  esac
  start=$(date +%s%N)
  "$@" >/dev/null
  end=$(date +%s%N)
  sync
  synced=$(date +%s%N)
  echo "$(seconds $((end - start))) $(seconds $((synced - start)))"
  echo "$run"
}

# Every command leaves the release's tree in both roots.
for tool in ours today pair; do
  { read -r _; read -r run; } < <(install "$tool" 5 base)
  for root in a b; do
    diff -r "$work/tree-5/mir200" "$run/$root/mir200" >/dev/null ||
      { echo "$tool left another tree in root $root"; exit 1; }
  done
done

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg), processors: $(nproc)"
declare -A times synced
cases=("ours 5 base" "today 5 base" "pair 5 base" "ours 100 base" "today 100 base"
  "pair 100 base" "ours 0 base" "ours 0 empty")
for r in $(seq "$runs"); do
  line="run $r:"
  for k in $(seq 0 $((${#cases[@]} - 1))); do
    entry=${cases[$(((k + r) % ${#cases[@]}))]}
    read -r tool percent roots <<<"$entry"
    { read -r t d; read -r _; } < <(install "$tool" "$percent" "$roots")
    times[$tool.$percent.$roots]+="$t "
    synced[$tool.$percent.$roots]+="$d "
    line+=" [$tool $percent% $roots] ${t}s (synced ${d}s)"
  done
  echo "$line"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

median() { printf '%s\n' $1 | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ratio() { echo "scale=2; $1 / $2" | bc | sed 's/^\./0./'; }
# table NAME ARRAY: the medians of one measure.
table() {
  local -n measured=$2
  echo
  echo "$1, medians of $runs runs, seconds"
  printf '%-34s %7s %7s %9s %11s %13s\n' case ours older unzip+cp ours/older ours/unzip+cp
  for percent in 5 100; do
    o=$(median "${measured[ours.$percent.base]}")
    t=$(median "${measured[today.$percent.base]}")
    p=$(median "${measured[pair.$percent.base]}")
    label="release over the previous, $percent % new"
    [ "$percent" = 100 ] && label="release over the previous, all new"
    printf '%-34s %7s %7s %9s %11s %13s\n' "$label" "$o" "$t" "$p" "$(ratio "$o" "$t")" \
      "$(ratio "$o" "$p")"
  done
  same=$(median "${measured[ours.0.base]}")
  full=$(median "${measured[ours.0.empty]}")
  printf '%-34s %7s\n' "unchanged reinstall" "$same"
  printf '%-34s %7s\n' "full install into empty roots" "$full"
  echo "unchanged reinstall / full install: $(ratio "$same" "$full")"
}
echo
echo "ours flushes every new file and folder to disk; the older build, unzip and cp flush nothing"
table "until the command returns" times
table "until a sync after the command returns" synced
