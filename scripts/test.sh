#!/usr/bin/env bash
# Builds the test configuration (Debug -O1, AddressSanitizer and
# UndefinedBehaviorSanitizer, warnings as errors) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-test -DCMAKE_TOOLCHAIN_FILE=cmake/i386-toolchain.cmake \
      -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
      -DQV_TESTS=ON -DQV_SANITIZE=ON -DQV_WERROR=ON >/dev/null
cmake --build build-test -j "$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:strict_init_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-test --output-on-failure -j "$(nproc)" --timeout 300
