#!/usr/bin/env bash
# Delta downloads: a package archive of 2000 files (about 360 MB, `zip -r -6`) is replaced by a
# new release, fetched from nginx on loopback, unthrottled and with limit_rate 5m (per
# connection). For each case it prints the bytes nginx sent, the requests it answered and the
# wall seconds of:
#   delta     downloader-cli download over the old archive (only changed entries fetched)
#   full      downloader-cli download --no-delta
#   curl      curl -o
#   aria2c    aria2c -x4 -s4
#   zsync     zsync -i OLD with the control file zsyncmake made (when zsync is installed)
# Cases: 5 % of the files changed, 1 % added, 1 % removed; every file changed; the 5 % release
# over an old archive recompressed at level 1; the 5 % release over an old archive whose local
# headers hold other access times (Info-ZIP stores them there, not in the directory: the
# assembled archive fails its digest and the reused spans are fetched again). Every result is checked against the new
# archive's MD5. Then the goals: bytes of the delta over the new archive, and its time over the
# full download's.
#   bench/delta.sh [CLI]          (BASELINES=0: without curl and aria2c)
set -euo pipefail
cd "$(dirname "$0")/.."
cli=$(realpath "${1:-build/downloader-cli}")
for tool in curl aria2c zip md5sum nginx; do
  command -v "$tool" >/dev/null || [ -x "/usr/sbin/$tool" ] ||
    { echo "$tool is missing (scripts/setup installs it)"; exit 1; }
done
have_zsync=0
command -v zsync >/dev/null && command -v zsyncmake >/dev/null && have_zsync=1
work=$(mktemp -d "${TMPDIR:-/tmp}/delta-bench.XXXXXX")
chmod 755 "$work"
nginx_pid=
cleanup() {
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

echo "making the archives in $work ..."
mkdir -p "$work/site" "$work/nginx"
python3 bench/make_archives.py delta "$work/tree" base
(cd "$work/tree" && zip -q -r -6 "$work/old.zip" . && zip -q -r -1 "$work/old-fast.zip" .)
# The old archive with every local header's access time a minute later.
python3 - "$work/old.zip" "$work/old-touched.zip" <<'PY'
import struct, sys, zipfile
data = bytearray(open(sys.argv[1], 'rb').read())
for info in zipfile.ZipFile(sys.argv[1]).infolist():
    at = info.header_offset
    name, extra = struct.unpack_from('<HH', data, at + 26)
    k, end = at + 30 + name, at + 30 + name + extra
    while k + 4 <= end:
        tag, size = struct.unpack_from('<HH', data, k)
        if tag == 0x5455 and size >= 9 and data[k + 4] & 3 == 3:
            struct.pack_into('<I', data, k + 9, struct.unpack_from('<I', data, k + 9)[0] + 60)
        k += 4 + size
open(sys.argv[2], 'wb').write(data)
PY
python3 bench/make_archives.py delta "$work/tree" new
(cd "$work/tree" && zip -q -r -6 "$work/site/new5.zip" .)
python3 bench/make_archives.py delta "$work/tree" all
(cd "$work/tree" && zip -q -r -6 "$work/site/newall.zip" .)
rm -rf "$work/tree"
printf 'small' >"$work/site/small.zip"
ls -l "$work/old.zip" "$work/old-fast.zip" "$work/site/new5.zip" "$work/site/newall.zip"

port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
fast=$(port)
slow=$(port)
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
  log_format sent '\$uri \$status \$body_bytes_sent';
  default_type application/octet-stream;
  client_body_temp_path $work/nginx/client_temp;
  proxy_temp_path $work/nginx/proxy_temp;
  fastcgi_temp_path $work/nginx/fastcgi_temp;
  uwsgi_temp_path $work/nginx/uwsgi_temp;
  scgi_temp_path $work/nginx/scgi_temp;
  sendfile on;
  server { listen 127.0.0.1:$fast; root $work/site; access_log $work/nginx/access.log sent; }
  server { listen 127.0.0.1:$slow; root $work/site; access_log $work/nginx/access.log sent;
           limit_rate 5m; }
}
CONF
"$(command -v nginx || echo /usr/sbin/nginx)" -p "$work/nginx/" -c "$work/nginx/nginx.conf" &
nginx_pid=$!
for _ in $(seq 100); do
  curl -s -o /dev/null "http://127.0.0.1:$fast/small.zip" && break
  sleep 0.05
done
small=$(md5sum "$work/site/small.zip" | cut -d' ' -f1)
for name in new5 newall; do
  md5=$(md5sum "$work/site/$name.zip" | cut -d' ' -f1)
  echo "$md5" >"$work/$name.md5"
  for p in $fast $slow; do
    mkdir -p "$work/site/m-$p-$name"
    manifest=""
    for section in 三端 功能 反挂 其他; do
      if [ "$section" = 三端 ]; then
        manifest+="[$section]\r\nURL=http://127.0.0.1:$p/$name.zip\r\nMD5=$md5\r\n"
      else
        manifest+="[$section]\r\nURL=http://127.0.0.1:$p/small.zip\r\nMD5=$small\r\n"
      fi
    done
    printf "$manifest" >"$work/site/m-$p-$name/xiazai.txt"
  done
  if [ $have_zsync = 1 ]; then
    (cd "$work/site" && zsyncmake -u "$name.zip" -o "$name.zip.zsync" "$name.zip")
  fi
done
chmod -R a+rX "$work/site"
sync

# measure METHOD PORT NAME LOCAL: prints "bytes requests seconds" of one download of NAME.zip.
measure() {
  local method=$1 p=$2 name=$3 local=$4 run start end
  run=$(mktemp -d "$work/run.XXXXXX")
  cp "$local" "$run/三端.zip"
  : >"$work/nginx/access.log"
  start=$(date +%s%N)
  case $method in
    delta | full)
      local flag=""
      [ "$method" = full ] && flag=--no-delta
      "$cli" download 三端 --dir "$run" --manifest "http://127.0.0.1:$p/m-$p-$name/xiazai.txt" \
        $flag >/dev/null 2>"$run/stderr" || { cat "$run/stderr" >&2; exit 1; }
      ;;
    curl) curl -s -o "$run/三端.zip" "http://127.0.0.1:$p/$name.zip" ;;
    aria2c)
      rm "$run/三端.zip"
      aria2c -q -x4 -s4 --allow-overwrite=true -d "$run" -o 三端.zip "http://127.0.0.1:$p/$name.zip"
      ;;
    zsync)
      (cd "$run" && zsync -q -i 三端.zip -o new.zip "http://127.0.0.1:$p/$name.zip.zsync" &&
        mv new.zip 三端.zip)
      ;;
  esac
  end=$(date +%s%N)
  sleep 0.3  # nginx logs a request once it has ended
  [ "$(md5sum "$run/三端.zip" | cut -d' ' -f1)" = "$(cat "$work/$name.md5")" ] ||
    { echo "$method: the result is not the new archive" >&2; exit 1; }
  # Only the archive's own requests (not the manifest's, not zsync's control file).
  read -r bytes requests < <(awk -v uri="/$name.zip" '$1 == uri {n++; s += $3} END {print s+0, n+0}' \
    "$work/nginx/access.log")
  rm -rf "$run"
  echo "$bytes $requests $(echo "scale=2; ($end - $start) / 1000000000" | bc)"
}

printf '%-13s %-9s %-7s %12s %9s %9s\n' case link method bytes requests seconds
declare -A result
run_case() {
  local label=$1 name=$2 local=$3 methods=$4
  for p in $fast $slow; do
    local link=loopback
    [ "$p" = "$slow" ] && link=5MB/s/c
    for method in $methods; do
      [ "$method" = zsync ] && [ $have_zsync = 0 ] && continue
      read -r b r s < <(measure "$method" "$p" "$name" "$local")
      result[$label,$link,$method]="$b $r $s"
      printf '%-13s %-9s %-7s %12s %9s %9s\n' "$label" "$link" "$method" "$b" "$r" "$s"
    done
  done
}
if [ "${BASELINES:-1}" = 1 ]; then
  run_case "5%" new5 "$work/old.zip" "delta full curl aria2c zsync"
else
  run_case "5%" new5 "$work/old.zip" "delta full zsync"
fi
run_case "all changed" newall "$work/old.zip" "delta full zsync"
run_case "recompressed" new5 "$work/old-fast.zip" "delta zsync"
run_case "headers" new5 "$work/old-touched.zip" "delta"

echo
echo "goals (5 MB/s per connection unless noted):"
size5=$(stat -c %s "$work/site/new5.zip")
goal() {  # LABEL CASE FULLCASE
  read -r db _ ds <<<"${result[$2,5MB/s/c,delta]}"
  read -r fb _ fs <<<"${result[$3,5MB/s/c,full]}"
  printf '%-13s bytes %s of the new archive, %s of the full download; time %s of the full download\n' \
    "$1" "$(echo "scale=4; $db / $4" | bc)" "$(echo "scale=4; $db / $fb" | bc)" \
    "$(echo "scale=3; $ds / $fs" | bc)"
}
goal "5%" "5%" "5%" "$size5"
goal "all changed" "all changed" "all changed" "$(stat -c %s "$work/site/newall.zip")"
goal "recompressed" "recompressed" "5%" "$size5"
goal "headers" "headers" "5%" "$size5"
