#!/usr/bin/env bash
# Installs what is missing, builds Tarvex, and runs every test headless:
# first the non-window tests and the raster fuzzer under AddressSanitizer
# and UndefinedBehaviorSanitizer (clang, build-sanitize/), then the whole
# suite of the ordinary build (build/): widget tests on the offscreen
# platform, real-window tests under Xvfb, the install tree's validation.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --tests

export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DTARVEX_GUI=OFF -DTARVEX_BENCHMARKS=OFF \
  -DTARVEX_SANITIZE=ON -DTARVEX_FUZZ=ON
cmake --build build-sanitize -j2
ctest --test-dir build-sanitize --output-on-failure

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2
ctest --test-dir build --output-on-failure
