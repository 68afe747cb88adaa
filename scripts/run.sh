#!/usr/bin/env bash
# Installs what is missing, builds Tarvex (the window, build/tarvex, and
# build/tarvex-batch, with what `cmake --install build` installs) and
# starts the window.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2 --target tarvex tarvex-batch tarvex_icons
exec build/tarvex
