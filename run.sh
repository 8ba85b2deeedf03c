#!/usr/bin/env bash
# Installs what is missing, builds into build/ and downloads the URLs given
# with brindle-cli into the download directory (options of brindle-cli may
# come first). Without arguments it shows brindle-cli's help.
set -euo pipefail
cd "$(dirname "$0")"
. tools/setup.sh

brindle_install_packages "${BRINDLE_BUILD_PACKAGES[@]}"
cmake -S . -B build -G Ninja -DBRINDLE_TESTS=OFF >/dev/null
cmake --build build -j "$(brindle_jobs)"
if [ $# -eq 0 ]; then
  exec build/src/app/brindle-cli --help
fi
exec build/src/app/brindle-cli "$@"
