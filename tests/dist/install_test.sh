#!/usr/bin/env bash
# Installs a build into a private DESTDIR under /usr and checks what a user
# gets: the files in their places, a desktop entry and AppStream metadata the
# validators pass without a warning, programs that run from there, and a
# desktop program that names the installed browser host in its manifests.
#   install_test.sh BUILD_DIR VERSION HOST_DIR
set -euo pipefail
build="$1" version="$2" host_dir="$3"
work=$(mktemp -d)
gui=""
cleanup() {
  if [ -n "$gui" ]; then kill "$gui" 2>/dev/null; wait "$gui" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

root="$work/root"
DESTDIR="$root" cmake --install "$build" --prefix /usr >"$work/install.log" || { cat "$work/install.log"; fail "cmake --install"; }
usr="$root/usr"

expected=(
  bin/brindle bin/brindle-cli "$host_dir/brindle-host"
  share/applications/brindle.desktop share/metainfo/org.brindle.Brindle.metainfo.xml
  share/icons/hicolor/scalable/apps/brindle.svg
  share/brindle/extension/manifest.json share/brindle/extension/background.js
  share/brindle/extension/icons/brindle-16.png share/brindle/brindle-extension.zip share/brindle/brindle-extension.xpi
  share/man/man1/brindle.1.gz share/man/man1/brindle-cli.1.gz
  share/doc/brindle/copyright share/doc/brindle/changelog.gz
)
for size in 16 22 24 32 48 64 128 256; do expected+=("share/icons/hicolor/${size}x${size}/apps/brindle.png"); done
for file in "${expected[@]}"; do [ -f "$usr/$file" ] || fail "missing /usr/$file"; done
for program in bin/brindle bin/brindle-cli "$host_dir/brindle-host"; do
  [ -x "$usr/$program" ] || fail "/usr/$program is not executable"
done
# Each PNG is as large as the folder it lies in says (width and height in the header).
for size in 16 22 24 32 48 64 128 256; do
  read -r w1 w2 w3 w4 h1 h2 h3 h4 < <(od -An -tu1 -j16 -N8 "$usr/share/icons/hicolor/${size}x${size}/apps/brindle.png")
  [ $(((w1 << 24) + (w2 << 16) + (w3 << 8) + w4)) -eq "$size" ] && [ $(((h1 << 24) + (h2 << 16) + (h3 << 8) + h4)) -eq "$size" ] ||
    fail "the ${size}x${size} icon has another size"
done
grep -q "^Copyright: 2026 The Brindle developers" "$usr/share/doc/brindle/copyright" || fail "copyright file"
grep -q "<project_license>MIT</project_license>" "$usr/share/metainfo/org.brindle.Brindle.metainfo.xml" ||
  fail "metainfo licence"
gzip -dc "$usr/share/doc/brindle/changelog.gz" | head -n 1 | grep -q "^brindle ($version) " || fail "changelog version"

# The validators must pass without a single warning.
report=$(desktop-file-validate "$usr/share/applications/brindle.desktop" 2>&1) || fail "desktop-file-validate: $report"
[ -z "$report" ] || fail "desktop-file-validate warns: $report"
report=$(appstreamcli validate --no-net "$usr/share/metainfo/org.brindle.Brindle.metainfo.xml" 2>&1) ||
  fail "appstreamcli: $report"
if grep -Eq '^(W|E):|warnings: |errors: ' <<<"$report"; then fail "appstreamcli warns: $report"; fi

[ "$("$usr/bin/brindle-cli" --version)" = "brindle-cli $version" ] || fail "installed brindle-cli --version"
[ "$("$usr/bin/brindle" --version)" = "brindle $version" ] || fail "installed brindle --version"

# Started from the installed tree, the desktop program writes the browsers'
# manifests naming the installed host (not the build tree's). A profile of
# its own (BRINDLE_HOME, a trial) writes none at start: once it listens on
# its channel its start is over, and no manifest may be there.
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=offscreen
unset XDG_CONFIG_HOME XDG_DATA_HOME BRINDLE_HOME
mkdir -p "$HOME" "$work/profile" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
manifest="$HOME/.config/chromium/NativeMessagingHosts/org.brindle.host.json"
BRINDLE_HOME="$work/profile" "$usr/bin/brindle" >"$work/trial.log" 2>&1 &
gui=$!
for _ in $(seq 200); do
  compgen -G "$XDG_RUNTIME_DIR/brindle-*.sock" >/dev/null && break
  kill -0 "$gui" 2>/dev/null || { cat "$work/trial.log"; fail "the trial brindle ended early"; }
  sleep 0.05
done
compgen -G "$XDG_RUNTIME_DIR/brindle-*.sock" >/dev/null || { cat "$work/trial.log"; fail "the trial brindle never listened"; }
[ ! -e "$manifest" ] || fail "a profile in BRINDLE_HOME wrote a manifest at start"
kill "$gui" && wait "$gui" 2>/dev/null || true
gui=""
"$usr/bin/brindle" >"$work/gui.log" 2>&1 &
gui=$!
for _ in $(seq 200); do
  [ -s "$manifest" ] && break
  kill -0 "$gui" 2>/dev/null || { cat "$work/gui.log"; fail "the installed brindle ended early"; }
  sleep 0.05
done
[ -s "$manifest" ] || { cat "$work/gui.log"; fail "no manifest written by the installed brindle"; }
grep -Fq "\"path\": \"$usr/$host_dir/brindle-host\"" "$manifest" || fail "the manifest names another host: $(cat "$manifest")"
echo "install test passed: $(find "$root" -type f | wc -l) files under $root"
