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

# run TOOL ARCHIVE: extracts into a fresh folder and prints the seconds it took.
run() {
  local tool=$1 archive=$2 out start end
  out=$(fresh)
  if [ "$tool" = ours ]; then ln "$archive" "$out/工具.zip"; fi
  start=$(date +%s%N)
  case $tool in
    ours) "$build/downloader-cli" install tools --dir "$out" >/dev/null ;;
    unzip) unzip -q -o "$archive" -d "$out" ;;
    bsdtar) bsdtar -xf "$archive" -C "$out" ;;
    7z) 7z x -y -bd -bso0 -bsp0 "-o$out" "$archive" ;;
  esac
  end=$(date +%s%N)
  echo "scale=3; ($end - $start) / 1000000000" | bc
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

tools=(ours unzip bsdtar 7z)
declare -A times
for archive in mixed small; do
  cat "$work/$archive.zip" >/dev/null
  for r in $(seq "$runs"); do
    line="$archive run $r:"
    for k in 0 1 2 3; do
      tool=${tools[$(((k + r) % 4))]}
      t=$(run "$tool" "$work/$archive.zip")
      times[$archive.$tool]+="$t "
      line+=" $tool ${t}s"
    done
    echo "$line"
  done
done

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
echo "(medians of $runs runs; goal: ours/best <= 0.80)"
