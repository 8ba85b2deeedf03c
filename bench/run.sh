#!/usr/bin/env bash
# Measures brindle-cli against other downloaders on loopback servers that
# this script starts itself, and prints a markdown table of medians.
#   bench/run.sh                  every case, 5 runs per tool
#   BENCH_RUNS=1 BENCH_BIG_MIB=64 bench/run.sh 1 4   a quick look at cases 1 and 4
# Cases:
#   1  50 MiB over HTTP, nginx capped at 2 MiB/s per connection
#   2  BENCH_BIG_MIB (1024) MiB over HTTP, uncapped (cp of the file as the disk's limit)
#   3  200 MiB over FTP from vsftpd
#   4  20 files of 100 KiB over HTTP, 3 at a time
#   5  case 1 over HTTPS (nginx with a certificate made for the run)
#   6  case 2 over HTTPS
#   7  20 MiB over HTTP, uncapped server, each tool limited to 2 MiB/s
#      (brindle-cli --limit-rate 2M, aria2c --max-overall-download-limit=2M,
#      curl --limit-rate 2M): the achieved rate against the cap
#   8  20 MiB over HTTP in 4 parts: the bytes the server sent, as a multiple
#      of the file's size
#   9  case 8 behind a redirection (302 to the file on the same server)
#   10 a long history: brindle-cli's run of one 1 MiB download, and the
#      desktop program's start (under Xvfb, until its main window maps),
#      with a partial-downloads folder of 0, 1,000, 10,000 and 50,000
#      records (BENCH_HISTORY to choose), a third of them unfinished with a
#      part file; its own table of wall seconds and peak RSS
#   11 1,000 files of 10 KiB over HTTP, 8 at a time (per-download overhead)
# Each row: median wall seconds, user+system CPU seconds and peak RSS, and
# each as a ratio to Brindle's. A run whose file differs from the source is
# reported as failed and left out of the medians.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/setup.sh

runs=${BENCH_RUNS:-5}
big_mib=${BENCH_BIG_MIB:-1024}
cases=("$@")
[ ${#cases[@]} -eq 0 ] && cases=(1 2 3 4 5 6 7 8 9)

brindle_install_packages "${BRINDLE_BUILD_PACKAGES[@]}" nginx vsftpd aria2 axel curl time python3 openssl >&2
targets=(brindle-cli)
if [[ " ${cases[*]} " == *" 10 "* ]]; then
  brindle_install_packages xvfb xdotool >&2
  targets+=(brindle)
fi
cmake -S . -B build-bench -G Ninja -DBRINDLE_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j "$(brindle_jobs)" --target "${targets[@]}" >&2
brindle_cli=$PWD/build-bench/src/app/brindle-cli
brindle_gui=$PWD/build-bench/src/app/brindle

work=$(mktemp -d /tmp/brindle-bench.XXXXXX)
chmod 755 "$work"  # nginx's workers run as nobody under root
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

wait_for_port() {
  local i
  for i in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "nothing listens on port $1" >&2
  return 1
}

make_file() {  # path MiB
  head -c "$(( $2 * 1024 * 1024 ))" /dev/urandom >"$1"
  chmod 644 "$1"
}

# --- data and servers -------------------------------------------------------
mkdir -p "$work/www/small" "$work/ftp/pub" "$work/ftp-empty" "$work/out"
chmod -R 755 "$work/www" "$work/ftp"
echo "Generating data in $work" >&2
for c in "${cases[@]}"; do
  case $c in
    1|5) [ -f "$work/www/50M.bin" ] || make_file "$work/www/50M.bin" 50 ;;
    2|6) [ -f "$work/www/big.bin" ] || make_file "$work/www/big.bin" "$big_mib" ;;
    3) make_file "$work/ftp/pub/200M.bin" 200 ;;
    4) for i in $(seq 20); do head -c 102400 /dev/urandom >"$work/www/small/f$i.bin"; done
       chmod 644 "$work/www/small/"* ;;
    7|8|9) [ -f "$work/www/20M.bin" ] || make_file "$work/www/20M.bin" 20 ;;
    10) make_file "$work/www/1M.bin" 1 ;;
    11) mkdir -p "$work/www/tiny"
        for i in $(seq 1000); do head -c 10240 /dev/urandom >"$work/www/tiny/f$i.bin"; done
        chmod -R 755 "$work/www/tiny" ;;
    *) echo "unknown case $c" >&2; exit 2 ;;
  esac
done

# An authority and a certificate for 127.0.0.1, made for this run; every
# client is told to trust the authority, so TLS is verified as in real use.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj /CN=bench-ca -days 2 \
  -keyout "$work/ca.key" -out "$work/ca.pem" 2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj /CN=127.0.0.1 \
  -keyout "$work/server.key" -out "$work/server.csr" 2>/dev/null
printf 'subjectAltName=IP:127.0.0.1\n' >"$work/server.ext"
openssl x509 -req -in "$work/server.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial -days 2 \
  -extfile "$work/server.ext" -out "$work/server.pem" 2>/dev/null
chmod 644 "$work/server.key"

capped_port=$(free_port)
open_port=$(free_port)
tls_capped_port=$(free_port)
tls_open_port=$(free_port)
logged_port=$(free_port)
cat >"$work/nginx.conf" <<EOF
daemon off; master_process off; worker_processes 1; pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 256; }
http {
  access_log off; default_type application/octet-stream; sendfile on;
  client_body_temp_path $work/t1; proxy_temp_path $work/t2; fastcgi_temp_path $work/t3;
  uwsgi_temp_path $work/t4; scgi_temp_path $work/t5;
  server { listen 127.0.0.1:$capped_port; root $work/www; limit_rate 2m; }
  server { listen 127.0.0.1:$open_port; root $work/www; }
  ssl_certificate $work/server.pem; ssl_certificate_key $work/server.key;
  server { listen 127.0.0.1:$tls_capped_port ssl; root $work/www; limit_rate 2m; }
  server { listen 127.0.0.1:$tls_open_port ssl; root $work/www; }
  log_format sent '\$bytes_sent';
  server { listen 127.0.0.1:$logged_port; root $work/www; access_log $work/sent.log sent;
           location = /r/20M.bin { return 302 /20M.bin; } }
}
EOF
/usr/sbin/nginx -p "$work" -c "$work/nginx.conf" -e "$work/nginx-error.log" &
pids+=($!)
wait_for_port "$capped_port"
wait_for_port "$open_port"
wait_for_port "$tls_capped_port"
wait_for_port "$tls_open_port"
wait_for_port "$logged_port"

ftp_port=$(free_port)
pasv_min=$(free_port)
cat >"$work/vsftpd.conf" <<EOF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$ftp_port
background=NO
anonymous_enable=YES
local_enable=NO
write_enable=NO
no_anon_password=YES
anon_root=$work/ftp
secure_chroot_dir=$work/ftp-empty
seccomp_sandbox=NO
connect_from_port_20=NO
pasv_enable=YES
pasv_address=127.0.0.1
pasv_min_port=$pasv_min
pasv_max_port=$(( pasv_min + 40 > 65535 ? 65535 : pasv_min + 40 ))
EOF
if [[ " ${cases[*]} " == *" 3 "* ]]; then
  /usr/sbin/vsftpd "$work/vsftpd.conf" &
  pids+=($!)
  wait_for_port "$ftp_port"
fi

# --- one measured run ------------------------------------------------------
# run TOOL CASE: downloads the case's files with TOOL into a fresh directory,
# appends "case tool wall cpu rss_kib ok sent" to the results (sent: the
# bytes the logging server sent over the file's size, 0 elsewhere).
results=$work/results.txt
: >"$results"

run() {
  local tool=$1 c=$2 out=$work/out/run home=$work/out/home
  rm -rf "$out" "$home"; mkdir -p "$out" "$home"
  local urls=() src=() names=()
  # N small files of the open server's folder DIR.
  many() {
    local i
    for i in $(seq "$1"); do urls+=("http://127.0.0.1:$open_port/$2/f$i.bin"); src+=("$work/www/$2/f$i.bin"); done
  }
  case $c in
    1) urls=("http://127.0.0.1:$capped_port/50M.bin"); src=("$work/www/50M.bin") ;;
    2) urls=("http://127.0.0.1:$open_port/big.bin"); src=("$work/www/big.bin") ;;
    3) urls=("ftp://127.0.0.1:$ftp_port/pub/200M.bin"); src=("$work/ftp/pub/200M.bin") ;;
    5) urls=("https://127.0.0.1:$tls_capped_port/50M.bin"); src=("$work/www/50M.bin") ;;
    6) urls=("https://127.0.0.1:$tls_open_port/big.bin"); src=("$work/www/big.bin") ;;
    4) many 20 small ;;
    7) urls=("http://127.0.0.1:$open_port/20M.bin"); src=("$work/www/20M.bin") ;;
    8) urls=("http://127.0.0.1:$logged_port/20M.bin"); src=("$work/www/20M.bin") ;;
    9) urls=("http://127.0.0.1:$logged_port/r/20M.bin"); src=("$work/www/20M.bin") ;;
    11) many 1000 tiny ;;
  esac
  local s; for s in "${src[@]}"; do names+=("$(basename "$s")"); done
  local cmd=() brindle_limit=() aria2c_limit=() curl_limit=() jobs=3
  [ "$c" = 11 ] && jobs=8
  if [ "$c" = 7 ]; then
    brindle_limit=(--limit-rate 2M); aria2c_limit=(--max-overall-download-limit=2M); curl_limit=(--limit-rate 2M)
  fi
  case $tool in
    brindle) cmd=(env SSL_CERT_FILE="$work/ca.pem" "$brindle_cli" --home "$home" -d "$out" -q -s 4 -j "$jobs"
                  "${brindle_limit[@]}" "${urls[@]}") ;;
    aria2c)  cmd=(aria2c -q -Z -d "$out" -x4 -s4 -k1M -j"$jobs" --file-allocation=falloc --ca-certificate="$work/ca.pem"
                  --allow-overwrite=true --auto-file-renaming=false "${aria2c_limit[@]}" "${urls[@]}") ;;
    axel)    cmd=(axel -q -n 4 -o "$out/${names[0]}" "${urls[0]}") ;;
    curl)    cmd=(curl -s -S -L --cacert "$work/ca.pem" --parallel --parallel-max "$jobs" --output-dir "$out"
                  --remote-name-all "${curl_limit[@]}" "${urls[@]}") ;;
    cp)      cmd=(cp "${src[0]}" "$out/${names[0]}") ;;
  esac
  sync
  : >"$work/sent.log"
  local ok=1 t
  /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "${cmd[@]}" >/dev/null 2>"$work/stderr.txt" || ok=0
  for t in "${!src[@]}"; do cmp -s "${src[$t]}" "$out/${names[$t]}" || ok=0; done
  if [ "$ok" -eq 0 ]; then echo "case $c, $tool failed: $(head -c 300 "$work/stderr.txt")" >&2; fi
  read -r wall user sys rss < <(tail -n 1 "$work/time.txt")
  local sent=0
  if [ "$c" = 8 ] || [ "$c" = 9 ]; then
    sent=$(awk -v size="$(stat -c %s "${src[0]}")" '{ s += $1 } END { printf "%.3f", s / size }' "$work/sent.log")
  fi
  echo "$c $tool $wall $(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }') $rss $ok $sent" >>"$results"
  rm -rf "$out"
}

tools_for() {
  case $1 in
    1) echo "brindle aria2c axel curl" ;;
    2) echo "brindle aria2c axel curl cp" ;;
    3) echo "brindle aria2c curl" ;;
    4) echo "brindle aria2c curl" ;;
    5|6|7|8|9|11) echo "brindle aria2c curl" ;;
  esac
}

# history N: a profile whose partial-downloads folder holds N records, a
# third paused with a 4 KiB part file, the rest done with their files there.
history() {
  python3 - "$work/hist/$1" "$1" <<'PY'
import os, sys
home, n = sys.argv[1], int(sys.argv[2])
part, done = home + "/Partial Downloads", home + "/done"
os.makedirs(part); os.makedirs(done)
for i in range(n):
    stem = "H%07d" % i
    paused = i % 3 == 0
    local = "%s/file%d.bin" % (done, i)
    if paused:
        open("%s/%s.0" % (part, stem), "wb").write(b"x" * 4096)
    else:
        open(local, "wb").write(b"x" * 16)
    keys = [("URL", "http://127.0.0.1:9/history/file%d.bin" % i), ("LocalFileName", local + (".new" if paused else "")),
            ("Status", "Paused" if paused else "Done"), ("FileSize", "1048576" if paused else "16"),
            ("NumOfParts", "1" if paused else "-1"), ("Category", ""), ("LastActivity", "2026-01-02 03:04:05.000"),
            ("Created", "2026-01-02 03:04:05.000"), ("Description", "")]
    open("%s/%s.dat" % (part, stem), "w", newline="").write(
        "[Options]\r\n" + "".join("%s=%s\r\n" % kv for kv in keys))
PY
}

# history_run N: one measured brindle-cli run and one desktop start on a copy
# of the profile of N records; appends "10 cli-N wall rss ok" and
# "10 gui-N seconds-to-map rss ok".
history_run() {
  local n=$1 home=$work/out/home out=$work/out/run ok=1
  rm -rf "$home" "$out"; cp -a "$work/hist/$n" "$home"; mkdir -p "$out"
  /usr/bin/time -f "%e %M" -o "$work/time.txt" "$brindle_cli" --home "$home" -d "$out" -q \
    "http://127.0.0.1:$open_port/1M.bin" >/dev/null 2>"$work/stderr.txt" || ok=0
  cmp -s "$work/www/1M.bin" "$out/1M.bin" || ok=0
  read -r wall rss < <(tail -n 1 "$work/time.txt")
  echo "10 cli-$n $wall $rss $ok" >>"$results"
  rm -rf "$home"; cp -a "$work/hist/$n" "$home"
  local start gui=0; start=$(date +%s.%N); ok=0; rm -f "$work/mapped" "$work/gui-rss"
  BRINDLE_HOME=$home timeout 600 xvfb-run -a -s '-screen 0 1366x768x24' sh -c \
    "'$brindle_gui' & p=\$!; xdotool search --sync --onlyvisible --name '^Brindle' >/dev/null; date +%s.%N >'$work/mapped';
     sleep 1; grep VmHWM /proc/\$p/status >'$work/gui-rss'; kill \$p; wait \$p" >/dev/null 2>&1 || true
  [ -s "$work/mapped" ] && ok=1 && gui=$(awk -v a="$start" '{ print $1 - a }' "$work/mapped")
  echo "10 gui-$n $gui $(awk '{ print $2 }' "$work/gui-rss" 2>/dev/null || echo 0) $ok" >>"$results"
}

for c in "${cases[@]}"; do
  if [ "$c" = 10 ]; then
    mkdir -p "$work/hist"
    for n in ${BENCH_HISTORY:-0 1000 10000 50000}; do
      history "$n"
      for r in $(seq "$runs"); do echo "case 10, $n records, run $r" >&2; history_run "$n"; done
      rm -rf "$work/hist/$n"
    done
    continue
  fi
  for r in $(seq "$runs"); do
    for tool in $(tools_for "$c"); do
      echo "case $c run $r: $tool" >&2
      run "$tool" "$c"
    done
  done
done

# --- the table ---------------------------------------------------------------
python3 - "$results" "$big_mib" <<'EOF'
import statistics, sys
rows = [l.split() for l in open(sys.argv[1]) if l.strip()]
hist = [r for r in rows if r[0] == "10"]
rows = [r for r in rows if r[0] != "10"]
if hist:
    print("| records | brindle-cli: 1 MiB, wall s | brindle-cli peak RSS MiB | desktop: window mapped, s | desktop peak RSS MiB | failed runs |")
    print("|---:|---:|---:|---:|---:|---:|")
    for n in dict.fromkeys(r[1][4:] for r in hist):
        def med(k, i):
            v = [float(r[i]) for r in hist if r[1] == k + n and r[4] == "1"]
            return statistics.median(v) if v else 0
        failed = sum(1 for r in hist if r[1][4:] == n and r[4] != "1")
        print("| %s | %.2f | %.1f | %.2f | %.1f | %d |" % (n, med("cli-", 2), med("cli-", 3) / 1024,
                                                             med("gui-", 2), med("gui-", 3) / 1024, failed))
    print()
if not rows: sys.exit()
titles = {"1": "50 MiB HTTP, 2 MiB/s per connection", "2": sys.argv[2] + " MiB HTTP, uncapped",
          "3": "200 MiB FTP", "4": "20 x 100 KiB HTTP, 3 at a time",
          "5": "50 MiB HTTPS, 2 MiB/s per connection", "6": sys.argv[2] + " MiB HTTPS, uncapped",
          "7": "20 MiB HTTP, each tool limited to 2 MiB/s",
          "8": "20 MiB HTTP, 4 parts", "9": "20 MiB HTTP, 4 parts, behind a 302",
          "11": "1,000 x 10 KiB HTTP, 8 at a time"}
print("| case | tool | wall s | CPU s | peak RSS MiB | wall / Brindle | CPU / Brindle | RSS / Brindle | failed runs |")
print("|---|---|---:|---:|---:|---:|---:|---:|---:|")
for c in sorted({r[0] for r in rows}, key=int):
    med = {}
    for tool in dict.fromkeys(r[1] for r in rows if r[0] == c):
        good = [r for r in rows if r[0] == c and r[1] == tool and r[5] == "1"]
        failed = sum(1 for r in rows if r[0] == c and r[1] == tool and r[5] != "1")
        if good:
            med[tool] = (statistics.median(float(r[2]) for r in good),
                         statistics.median(float(r[3]) for r in good),
                         statistics.median(int(r[4]) for r in good) / 1024.0, failed)
        else:
            med[tool] = None, None, None, failed
    base = med.get("brindle")
    def ratio(i, v):
        if v is None or base is None or base[i] is None or base[i] == 0: return "-"
        return "%.2f" % (v / base[i])
    for tool, (w, u, m, failed) in med.items():
        fmt = lambda v, f: "-" if v is None else f % v
        print("| %s | %s | %s | %s | %s | %s | %s | %s | %d |" % (
            titles[c] if tool == next(iter(med)) else "", tool, fmt(w, "%.2f"), fmt(u, "%.2f"),
            fmt(m, "%.1f"), ratio(0, w), ratio(1, u), ratio(2, m), failed))
    if c in ("1", "5"):
        print("| | physical limit (4 x 2 MiB/s) | %.2f | | | | | | |" % (50 / 8.0))
    if c == "7":
        print("| | the cap (20 MiB at 2 MiB/s) | %.2f | | | | | | |" % (20 / 2.0))
        for tool, (w, u, m, failed) in med.items():
            if w: print("| | %s achieved MiB/s (cap 2.00) | %.2f | | | | | | |" % (tool, 20 / w))
sent = [r for r in rows if r[0] in ("8", "9") and r[5] == "1"]
if sent:
    print()
    print("| case | tool | bytes sent / file size |")
    print("|---|---|---:|")
    for c in sorted({r[0] for r in sent}):
        for tool in dict.fromkeys(r[1] for r in sent if r[0] == c):
            print("| %s | %s | %.3f |" % (titles[c], tool,
                                        statistics.median(float(r[6]) for r in sent if r[0] == c and r[1] == tool)))
EOF
