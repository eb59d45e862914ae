#!/usr/bin/env bash
# Installs the dependencies, builds the library in Release and runs the short
# demonstration against the simulated scale.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# --no-warn-unused-cli: a second run does not read the toolchain file again.
cmake --no-warn-unused-cli -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/i386-toolchain.cmake \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)"
if [ -x scripts/demo.sh ]; then bash scripts/demo.sh build; fi
