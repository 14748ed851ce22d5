#!/usr/bin/env bash
# Builds the three builds: build/native (core and its tests, sanitizers on),
# build/windows (clearstrand.exe and the Wine tests, cross-compiled) and
# build/fuzz (the population fuzz target, clang with libFuzzer).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

cmake -S "$root" -B "$root/build/native" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$root/build/native" -j "$jobs"

cmake -S "$root" -B "$root/build/windows" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$root/build/windows" -j "$jobs"

CC=clang CXX=clang++ cmake -S "$root" -B "$root/build/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCLEARSTRAND_FUZZ=ON >/dev/null
cmake --build "$root/build/fuzz" -j "$jobs"
