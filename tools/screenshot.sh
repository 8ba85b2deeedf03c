#!/usr/bin/env bash
# Takes the README's picture of the main window: starts Brindle on a virtual
# display with a fresh profile, gives it a few downloads from a slow loopback
# server, and saves the window as docs/main-window.png.
#   tools/screenshot.sh [OUTPUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/setup.sh
brindle_install_packages "${BRINDLE_BUILD_PACKAGES[@]}" "${BRINDLE_SCREENSHOT_PACKAGES[@]}" python3
output="${1:-docs/main-window.png}"
[ -x build/src/app/brindle ] || { cmake -S . -B build -G Ninja -DBRINDLE_UI=ON >/dev/null && cmake --build build --target brindle; }

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
port=$(free_port)
display=":$((90 + RANDOM % 400))"
Xvfb "$display" -screen 0 1000x400x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
python3 tools/slow_http_server.py "$port" 150000 & pids+=($!)
for _ in $(seq 50); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null && break
  sleep 0.1
done

export DISPLAY="$display" BRINDLE_HOME="$work/profile" HOME="$work/home" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME/Downloads" "$XDG_RUNTIME_DIR" "$BRINDLE_HOME" && chmod 700 "$XDG_RUNTIME_DIR"
# A window wide enough to show every column.
printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
  '[HKEY_CURRENT_USER\Software\Brindle\Form_Main Position]' \
  '"Left"=dword:00000000' '"Top"=dword:00000000' '"Width"=dword:00000370' '"Height"=dword:00000140' \
  >"$BRINDLE_HOME/registry.reg"
base="http://127.0.0.1:$port"
build/src/app/brindle "$base/debian-12.5.0-amd64-netinst-41943040.iso" >/dev/null 2>&1 & pids+=($!)
sleep 2
build/src/app/brindle "$base/holiday-video-26214400.mp4" "$base/project-backup-8388608.tar.gz" \
  "$base/release-notes-40960.pdf" "$base/photos-2024-16777216.zip" >/dev/null
sleep 6
mkdir -p "$(dirname "$output")"
import -window root -crop 880x320+0+0 +repage -colors 96 "$output"
echo "screenshot.sh: wrote $output"
