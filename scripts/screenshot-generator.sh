#!/usr/bin/env bash
# Makes docs/generator-window.png, the README's picture of the boot-image generator: the window on
# Qt's offscreen platform, after a sample configuration has been typed into it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target generator-screenshot
mkdir -p docs
QT_QPA_PLATFORM=offscreen build/src/generator-screenshot docs/generator-window.png
echo "docs/generator-window.png"
