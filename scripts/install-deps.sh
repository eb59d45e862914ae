#!/usr/bin/env bash
# Installs the i386 toolchain and libraries the driver is built against.
# Safe to run again: apt-get only adds what is missing.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
    cmake make g++ g++-multilib pkgconf \
    libboost-dev:i386 libboost-log-dev:i386 libboost-locale-dev:i386 \
    libboost-filesystem-dev:i386 libboost-serialization-dev:i386 \
    libboost-thread-dev:i386 libboost-date-time-dev:i386 libboost-system-dev:i386 \
    libutfcpp-dev libgtest-dev:i386 libgmock-dev:i386 libbenchmark-dev:i386 locales >/dev/null
# A decimal-comma locale for the tests that prove documents do not depend on
# the process locale, and the Russian one that the log files are written in.
for loc in de_DE ru_RU; do
    if ! locale -a 2>/dev/null | grep -qix "$loc.utf-\?8"; then
        localedef -i "$loc" -f UTF-8 "$loc.UTF-8"
    fi
done
