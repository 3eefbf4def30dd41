#!/usr/bin/env bash
# Extraction speed: ours (downloader-cli installing the tools package, which extracts it
# into a fresh staging folder) against unzip -q -o, bsdtar -xf and 7z x, on two archives:
# about 490 MiB in 2000 mixed files, and 20000 files of 1-4 KiB. Each run extracts into a
# new folder, the tools alternate (the starting tool rotates from run to run), and all
# output is deleted only at the end (creating files soon after a large delete is much
# slower here). No tool flushes its output to disk (none calls fsync).
# Prints every run, then a table of medians and of ours / the best other tool.
#   bench/extract.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
runs=${2:-5}
ninja -C "$build" downloader-cli >/dev/null
for tool in unzip bsdtar 7z zip; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/setup installs it)"; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/extract-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "making the archives in $work ..."
python3 bench/make_archives.py mixed "$work/src-mixed"
python3 bench/make_archives.py small "$work/src-small"
(cd "$work/src-mixed" && zip -q -r "$work/mixed.zip" .)
(cd "$work/src-small" && zip -q -r "$work/small.zip" .)
rm -rf "$work/src-mixed" "$work/src-small"
sync
ls -l "$work"/*.zip

fresh() { mktemp -d "$work/out.XXXXXX"; }

# run TOOL ARCHIVE: extracts into a fresh folder and prints the seconds it took and the
# processor seconds it used (user + system), as "wall cpu".
run() {
  local tool=$1 archive=$2 out
  out=$(fresh)
  if [ "$tool" = ours ]; then ln "$archive" "$out/工具.zip"; fi
  case $tool in
    ours) set -- "$build/downloader-cli" install tools --dir "$out" ;;
    unzip) set -- unzip -q -o "$archive" -d "$out" ;;
    bsdtar) set -- bsdtar -xf "$archive" -C "$out" ;;
    7z) set -- 7z x -y -bd -bso0 -bsp0 "-o$out" "$archive" ;;
  esac
  /usr/bin/time -f '%e %U %S' -o "$work/time" "$@" >/dev/null
  awk '{printf "%.2f %.2f\n", $1, $2 + $3}' "$work/time"
}

# The outputs agree before anything is timed.
for archive in mixed small; do
  a=$(fresh)
  unzip -q -o "$work/$archive.zip" -d "$a"
  b=$(fresh)
  ln "$work/$archive.zip" "$b/工具.zip"
  "$build/downloader-cli" install tools --dir "$b" >/dev/null
  diff -r "$a" "$b/其他工具" >/dev/null || { echo "ours differs from unzip on $archive"; exit 1; }
done

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg), processors: $(nproc)"
tools=(ours unzip bsdtar 7z)
declare -A times cpus
for archive in mixed small; do
  cat "$work/$archive.zip" >/dev/null
  for r in $(seq "$runs"); do
    line="$archive run $r:"
    for k in 0 1 2 3; do
      tool=${tools[$(((k + r) % 4))]}
      read -r t c < <(run "$tool" "$work/$archive.zip")
      times[$archive.$tool]+="$t "
      cpus[$archive.$tool]+="$c "
      line+=" $tool ${t}s (cpu ${c}s)"
    done
    echo "$line"
  done
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

median() { printf '%s\n' $1 | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
echo
printf '%-8s %8s %8s %8s %8s %12s\n' archive ours unzip bsdtar 7z 'ours/best'
for archive in mixed small; do
  declare -A m
  for tool in "${tools[@]}"; do m[$tool]=$(median "${times[$archive.$tool]}"); done
  best=$(printf '%s\n' "${m[unzip]}" "${m[bsdtar]}" "${m[7z]}" | sort -g | head -1)
  printf '%-8s %7.2fs %7.2fs %7.2fs %7.2fs %12.2f\n' "$archive" "${m[ours]}" "${m[unzip]}" \
    "${m[bsdtar]}" "${m[7z]}" "$(echo "scale=4; ${m[ours]} / $best" | bc)"
done
printf '%-8s %8s %8s %8s %8s   (median processor seconds)\n' archive ours unzip bsdtar 7z
for archive in mixed small; do
  printf '%-8s' "$archive"
  for tool in "${tools[@]}"; do printf ' %7.2fs' "$(median "${cpus[$archive.$tool]}")"; done
  echo
done
echo "(medians of $runs runs of elapsed time; goal: ours/best <= 0.80)"
