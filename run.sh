#!/usr/bin/env bash
# Installs what is missing, builds into build/ and starts Brindle: the
# desktop program when a display is there (DISPLAY or WAYLAND_DISPLAY),
# else brindle-cli, which downloads the URLs given into the download
# directory (options of brindle-cli may come first) and without any shows
# its help.
#   ./run.sh --package   builds the Debian package instead (into
#                        build-package/, see tools/package.sh) and says how
#                        to install it
set -euo pipefail
cd "$(dirname "$0")"
. tools/setup.sh

if [ "${1:-}" = "--package" ]; then
  deb=$(tools/package.sh build-package)
  echo "run.sh: built $deb; install it with: sudo apt install ./$deb" >&2
  exit 0
fi

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
