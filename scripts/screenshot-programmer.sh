#!/usr/bin/env bash
# Makes docs/programmer-*.png, the pictures of the programmer's main window with each page (README
# and user guide): the window on Qt's offscreen platform, with sample choices made on each page.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target programmer-screenshot
mkdir -p docs
QT_QPA_PLATFORM=offscreen build/src/programmer-screenshot docs
