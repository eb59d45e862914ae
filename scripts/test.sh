#!/usr/bin/env bash
# Builds the test configuration (Debug -O1, AddressSanitizer and
# UndefinedBehaviorSanitizer, warnings as errors), checks the installed
# package (installs into a temporary prefix, builds hosts against the
# installed files alone and runs them against installed simulated scales),
# then runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
sanitize="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
# The toolchain file is read only by a fresh configure: a second run would
# warn that it was not used.
cmake --no-warn-unused-cli -S . -B build-test -DCMAKE_TOOLCHAIN_FILE=cmake/i386-toolchain.cmake \
      -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
      -DQV_TESTS=ON -DQV_SANITIZE=ON -DQV_WERROR=ON >/dev/null
cmake --build build-test -j "$(nproc)"

export ASAN_OPTIONS=detect_leaks=1:strict_init_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# ---- The installed package. The library of the test configuration carries
# the sanitizers' runtime, so the hosts are built with the same flags.
work="$(mktemp -d)"
prefix="$work/prefix"
# shellcheck source=scripts/sim_scales.sh
source scripts/sim_scales.sh
cleanup() {
  stop_sim_scales
  rm -rf "$work"
}
trap cleanup EXIT
cmake --install build-test --prefix "$prefix" >/dev/null

# The package carries what a host developer needs besides the library: the
# headers with the numbers' names, the toolchain file, the command reference
# and the README.
for f in quorvix_types.h i386-toolchain.cmake commands.md README.md; do
  [ -n "$(find "$prefix" -name "$f")" ] || { echo "install check: $f is not installed" >&2; exit 1; }
done
toolchain="$(find "$prefix" -name i386-toolchain.cmake)"
# Every file the installed README names is there: a link, or a path from the
# README's folder or from the prefix (the README names installed files by
# their path under it), or a bare file name anywhere in the package. Absolute
# paths are examples of a host's machine.
readme="$(find "$prefix" -path '*/doc/*' -name README.md)"
readme_dir="$(dirname "$readme")"
while read -r name; do
  case "$name" in
    ''|/*) continue ;;
    */*) [ -e "$readme_dir/$name" ] || [ -e "$prefix/$name" ] ;;
    *) [ -e "$readme_dir/$name" ] || [ -n "$(find "$prefix" -name "$name")" ] ;;
  esac || { echo "install check: the installed README names $name, which is not installed" >&2; exit 1; }
done < <(grep -o '](\([^)#:]*\))' "$readme" | sed 's/^](//; s/)$//'
         grep -o '`[A-Za-z0-9_./-]*\.\(md\|h\|cpp\|cmake\|pc\|so\|sh\)`' "$readme" | tr -d '`')

# With the CMake package: the example host (dlopen, headers only) and a
# linked host, both spelling numbers by name. Configured with the installed
# toolchain file, and with Boost's CMake files out of reach: the package must
# not ask for them.
cmake --no-warn-unused-cli -S examples/installed_host -B "$work/build" \
      -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DCMAKE_DISABLE_FIND_PACKAGE_Boost=ON \
      -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -Werror $sanitize" \
      -DCMAKE_EXE_LINKER_FLAGS_DEBUG="$sanitize" >/dev/null
cmake --build "$work/build" -j "$(nproc)" >/dev/null
# With pkg-config, which sees only the prefix's package files.
export PKG_CONFIG_LIBDIR="$(dirname "$(find "$prefix" -name quorvix_driver.pc)")"
libdir="$(pkg-config --variable=libdir quorvix_driver)"
# shellcheck disable=SC2046  # pkg-config's flags are meant to split
g++ -m32 -std=c++17 -Werror $sanitize examples/installed_host/linked_host.cpp \
    $(pkg-config --cflags --libs quorvix_driver) -Wl,-rpath,"$libdir" -o "$work/linked_host_pc"

# Three simulated scales, 127.0.0.2 to 127.0.0.4, each with a serial number
# of its own; the example hosts use the first, the list host all three.
start_sim_scales "$prefix/bin/sim_scale" "$work" || { echo "install check: see above" >&2; exit 1; }
run_host() {
  "$@" >"$work/host.out" 2>&1 || { cat "$work/host.out" >&2; echo "install check: $1 failed" >&2; return 1; }
}
run_host "$work/build/host_demo" "$libdir/libquorvix_driver.so" 127.0.0.2 "${ports[0]}"
run_host "$work/build/linked_host" 127.0.0.2 "${ports[0]}"
run_host "$work/linked_host_pc" 127.0.0.2 "${ports[0]}"
# Nothing listens on 127.0.0.5: the list host's scale that does not answer.
run_host "$work/build/scale_list_host" 127.0.0.2:"${ports[0]}" 127.0.0.3:"${ports[1]}" 127.0.0.4:"${ports[2]}" \
  --silent 127.0.0.5:"${ports[0]}"
echo "install check passed: package in a temporary prefix, hosts built against it ran against the simulated scales"
stop_sim_scales

# ---- Every test, last, so that its summary closes the output.
ctest --test-dir build-test --output-on-failure -j "$(nproc)" --timeout 300
