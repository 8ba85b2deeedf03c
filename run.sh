#!/usr/bin/env bash
# Installs what is missing, builds into build/ and runs Brindle.
set -euo pipefail
cd "$(dirname "$0")"
. tools/setup.sh

brindle_install_packages "${BRINDLE_BUILD_PACKAGES[@]}"
cmake -S . -B build -G Ninja -DBRINDLE_TESTS=OFF >/dev/null
cmake --build build -j "$(brindle_jobs)"
exec build/src/app/brindle-cli "$@"
