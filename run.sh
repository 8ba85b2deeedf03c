#!/usr/bin/env bash
# Installs what is missing, builds into build/ and starts Brindle: the
# desktop program when a display is there (DISPLAY or WAYLAND_DISPLAY),
# else brindle-cli, which downloads the URLs given into the download
# directory (options of brindle-cli may come first) and without any shows
# its help.
set -euo pipefail
cd "$(dirname "$0")"
. tools/setup.sh

brindle_install_packages "${BRINDLE_BUILD_PACKAGES[@]}"
cmake -S . -B build -G Ninja -DBRINDLE_TESTS=OFF -DBRINDLE_UI=ON >/dev/null
cmake --build build -j "$(brindle_jobs)"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: starting the desktop program (build/src/app/brindle)" >&2
  exec build/src/app/brindle "$@"
fi
echo "run.sh: no display; starting brindle-cli (build/src/app/brindle-cli)" >&2
if [ $# -eq 0 ]; then
  exec build/src/app/brindle-cli --help
fi
exec build/src/app/brindle-cli "$@"
