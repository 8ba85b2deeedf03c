#!/bin/sh
# Runs the crash torture N times (default 100): brindle-cli killed at named
# points and at random moments until its download is done, and the settings
# killed while being saved. Builds what it needs into build/ first.
#   bench/torture.sh [N]        BRINDLE_TORTURE_SEED=S fixes the seed
set -eu
trials=${1:-100}
cd "$(dirname "$0")/.."
if [ ! -f build/build.ninja ]; then
  cmake -S . -B build -G Ninja -DBRINDLE_TESTS=ON ${BRINDLE_CMAKE_CACHE_ARGS:-}
fi
cmake --build build --target brindle-cli app_torture_tests
BRINDLE_TORTURE_TRIALS=$trials exec build/tests/app_torture_tests
