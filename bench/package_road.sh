#!/usr/bin/env bash
# The road of a package: downloader-cli downloads the server package's archive (about 360 MB)
# from nginx on loopback, the digest is checked, and the package is installed into two roots.
# Three contenders, alternating (the first one rotates from run to run), RUNS times each:
#   ours      CLI download 三端, then CLI install 三端 --root A --root B
#   baseline  the same with BASELINE_CLI (an earlier build)
#   tools     curl -o, md5sum -c, unzip into a staging folder, cp -r of it into both roots
# Every run works in a new folder, and everything is deleted only at the end (creating files
# soon after a large delete is much slower here). The download is not flushed by anyone (neither
# curl nor ours calls fsync); our install flushes every file it writes (a transaction per
# root), the earlier build's install, unzip and cp do not. Prints every run, then the medians
# and their ratios: the seconds until the archive was there and verified, the processor
# seconds (user + system) of that part, the seconds of the whole road, and the seconds until a
# sync right after it ended. On a shared machine the processor seconds vary less than the wall
# times.
#   bench/package_road.sh [CLI] BASELINE_CLI [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
cli=$(realpath "${1:-build/downloader-cli}")
baseline=$(realpath "${2:?usage: bench/package_road.sh [CLI] BASELINE_CLI [RUNS]}")
runs=${3:-5}
for tool in curl md5sum unzip zip nginx /usr/bin/time; do
  command -v "$tool" >/dev/null || [ -x "/usr/sbin/$tool" ] ||
    { echo "$tool is missing (scripts/setup installs it)"; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/road-bench.XXXXXX")
chmod 755 "$work"  # nginx's workers run as nobody when started as root
nginx_pid=
cleanup() {
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

echo "making the archive in $work ..."
mkdir -p "$work/site/xiazaiqi" "$work/nginx"
python3 bench/make_archives.py road "$work/src"
(cd "$work/src" && zip -q -r "$work/site/server.zip" .)
rm -rf "$work/src"
printf 'small' >"$work/site/small.zip"
md5=$(md5sum "$work/site/server.zip" | cut -d' ' -f1)
small=$(md5sum "$work/site/small.zip" | cut -d' ' -f1)
chmod -R a+rX "$work/site"
ls -l "$work/site/server.zip"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
user=""
[ "$(id -u)" = 0 ] && user="user nobody nogroup;"
cat >"$work/nginx/nginx.conf" <<CONF
$user
daemon off;
worker_processes 2;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 256; }
http {
  access_log off;
  default_type application/octet-stream;
  client_body_temp_path $work/nginx/client_temp;
  proxy_temp_path $work/nginx/proxy_temp;
  fastcgi_temp_path $work/nginx/fastcgi_temp;
  uwsgi_temp_path $work/nginx/uwsgi_temp;
  scgi_temp_path $work/nginx/scgi_temp;
  sendfile on;
  server { listen 127.0.0.1:$port; root $work/site; }
}
CONF
"$(command -v nginx || echo /usr/sbin/nginx)" -p "$work/nginx/" -c "$work/nginx/nginx.conf" &
nginx_pid=$!
for _ in $(seq 100); do
  curl -s -o /dev/null "http://127.0.0.1:$port/small.zip" && break
  sleep 0.05
done
url="http://127.0.0.1:$port"
manifest=""
for section in 三端 功能 反挂 其他; do
  if [ "$section" = 三端 ]; then
    manifest+="[$section]\r\nURL=$url/server.zip\r\nMD5=$md5\r\n"
  else
    manifest+="[$section]\r\nURL=$url/small.zip\r\nMD5=$small\r\n"
  fi
done
printf "$manifest" >"$work/site/xiazaiqi/xiazai.txt"
chmod a+r "$work/site/xiazaiqi/xiazai.txt"
sync

seconds() { echo "scale=2; ($2 - $1) / 1000000000" | bc; }

# road CONTENDER: one road in a fresh folder; prints the seconds until the archive was there
# and verified, the processor seconds of that part, and the seconds of the whole road.
road() {
  local run start verified end cpu
  run=$(mktemp -d "$work/run.XXXXXX")
  mkdir -p "$run/program" "$run/a" "$run/b"
  cpu="$run/cpu"
  start=$(date +%s%N)
  case $1 in
    ours | baseline)
      local program=$cli
      [ "$1" = baseline ] && program=$baseline
      /usr/bin/time -f "%U %S" -a -o "$cpu" "$program" download 三端 --dir "$run/program" \
        --manifest "$url/xiazaiqi/xiazai.txt" >/dev/null
      verified=$(date +%s%N)
      "$program" install 三端 --root "$run/a" --root "$run/b" --dir "$run/program" >/dev/null
      ;;
    tools)
      /usr/bin/time -f "%U %S" -a -o "$cpu" curl -s -o "$run/program/三端.zip" "$url/server.zip"
      (cd "$run/program" &&
        echo "$md5  三端.zip" | /usr/bin/time -f "%U %S" -a -o "$cpu" md5sum -c --quiet)
      verified=$(date +%s%N)
      unzip -q "$run/program/三端.zip" -d "$run/program/stage"
      cp -r "$run/program/stage/." "$run/a/"
      cp -r "$run/program/stage/." "$run/b/"
      ;;
  esac
  end=$(date +%s%N)
  # The package's files; an install's own record below .下载器备份/ does not count.
  [ "$(find "$run/b" -name .下载器备份 -prune -o -type f -print | wc -l)" = 900 ] ||
    { echo "$1: files missing in a root" >&2; exit 1; }
  # Our install flushes what it wrote; unzip and cp leave it in the page cache. The road is
  # also timed to the end of a sync right after it, so that no one's writes are left unpaid.
  sync
  synced=$(date +%s%N)
  echo "$(seconds "$start" "$verified") $(awk '{s += $1 + $2} END {print s}' "$cpu")" \
    "$(seconds "$start" "$end") $(seconds "$start" "$synced")"
}

contenders=(ours baseline tools)
declare -A fetched cpus whole flushed
for r in $(seq "$runs"); do
  line="run $r:"
  for k in 0 1 2; do
    c=${contenders[$(((r + k) % 3))]}
    read -r f p t y < <(road "$c")
    fetched[$c]+="$f " cpus[$c]+="$p " whole[$c]+="$t " flushed[$c]+="$y "
    line+="  $c ${f}s (cpu ${p}s) / ${t}s / ${y}s"
  done
  echo "$line   (archive verified / whole road / to a sync)"
done
median() { printf '%s\n' $1 | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ratio() { echo "scale=2; $1 / $2" | bc; }
printf '%-13s %13s %13s %9s %11s\n' "median" "verified (s)" "its cpu (s)" "road (s)" "synced (s)"
for c in "${contenders[@]}"; do
  printf '%-13s %13s %13s %9s %11s\n' "$c" "$(median "${fetched[$c]}")" \
    "$(median "${cpus[$c]}")" "$(median "${whole[$c]}")" "$(median "${flushed[$c]}")"
done
for other in baseline tools; do
  printf 'ours/%-8s %13s %13s %9s %11s\n' "$other" \
    "$(ratio "$(median "${fetched[ours]}")" "$(median "${fetched[$other]}")")" \
    "$(ratio "$(median "${cpus[ours]}")" "$(median "${cpus[$other]}")")" \
    "$(ratio "$(median "${whole[ours]}")" "$(median "${whole[$other]}")")" \
    "$(ratio "$(median "${flushed[ours]}")" "$(median "${flushed[$other]}")")"
done
