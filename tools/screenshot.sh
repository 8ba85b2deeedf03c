#!/usr/bin/env bash
# Takes the README's pictures as a new user sees them: Brindle on a virtual
# 1366x768 display with a window manager, a notification service and a
# fresh profile (so the default categories), fetching from a slow loopback
# server. Each dialog is answered as a user would, with its default button.
# Writes into OUTPUT_DIR (default docs):
#   main-window.png    the main window with a running download
#   file-download.png  that download's File Download window
#   notification.png   the notification of a download that ended while the
#                      main window was minimised
#   tools/screenshot.sh [OUTPUT_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/setup.sh
brindle_install_packages "${BRINDLE_BUILD_PACKAGES[@]}" "${BRINDLE_SCREENSHOT_PACKAGES[@]}" python3 || exit 1
output="${1:-docs}"
[ -x build/src/app/brindle ] || { cmake -S . -B build -G Ninja -DBRINDLE_UI=ON >/dev/null && cmake --build build --target brindle; }

# Everything else runs on a session bus of its own, where the notification
# service is.
if [ -z "${BRINDLE_SCREENSHOT_BUS:-}" ]; then
  exec env BRINDLE_SCREENSHOT_BUS=1 dbus-run-session -- "$0" "$@"
fi

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
# Waits up to 15 s for a window whose title matches, and prints its id.
window_named() {
  local id
  for _ in $(seq 150); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -n 1) && [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "screenshot.sh: no window named '$1'" >&2
  return 1
}
# The window with its frame, as the window manager draws it.
grab() {
  import -window "$1" -frame +repage -colors 128 "$2"
  echo "screenshot.sh: wrote $2"
}

port=$(free_port)
display=":$((90 + RANDOM % 400))"
Xvfb "$display" -screen 0 1366x768x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
python3 tools/slow_http_server.py "$port" 150000 & pids+=($!)
for _ in $(seq 50); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null && break
  sleep 0.1
done
export DISPLAY="$display" BRINDLE_HOME="$work/profile" HOME="$work/home" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME/Downloads" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
openbox >/dev/null 2>&1 & pids+=($!)
# A notification drawn as light desktops draw theirs.
cat >"$work/dunstrc" <<'END'
[global]
font = DejaVu Sans 10
width = 380
offset = 16x16
padding = 10
horizontal_padding = 14
frame_width = 1
frame_color = "#9a9a9a"
show_indicators = no
format = "<b>%s</b>\n%b"
[urgency_normal]
background = "#f6f6f6"
foreground = "#202020"
END
dunst -config "$work/dunstrc" >/dev/null 2>&1 & pids+=($!)
sleep 1
mkdir -p "$output"
base="http://127.0.0.1:$port"

build/src/app/brindle >/dev/null 2>&1 & pids+=($!)
main=$(window_named '^Brindle')
# Clear of the screen's edge, so that the title bar is whole.
xdotool windowmove --sync "$main" 24 24
build/src/app/brindle "$base/debian-netinst-41943040.iso" >/dev/null
xdotool windowactivate --sync "$(window_named '^Save as')" key Return
download=$(window_named 'debian-netinst')
xdotool windowmove --sync "$download" 120 160
sleep 5
grab "$download" "$output/file-download.png"
xdotool windowminimize --sync "$download"
xdotool windowactivate --sync "$main"
sleep 1
grab "$main" "$output/main-window.png"

# A small file while the window is minimised: its end is told by a
# notification, beside the Download Complete window.
xdotool windowminimize --sync "$main"
build/src/app/brindle "$base/release-notes-40960.pdf" >/dev/null
xdotool windowactivate --sync "$(window_named '^Save as')" key Return
notification=$(window_named 'Dunst')
sleep 1
grab "$notification" "$output/notification.png"
