#!/usr/bin/env bash
# Builds build/native (the core and its tests, with the sanitizers),
# build/windows (clearstrand.exe and the Wine tests, cross-compiled) and
# build/exe-only (clearstrand.exe as on a machine with neither GoogleTest nor
# wixl, configured afresh each time), and checks that the last one leaves the
# tests out with one line and still gives the program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

cmake -S "$root" -B "$root/build/native" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$root/build/native" -j "$jobs"

# The two Windows builds compile the program's sources alike: ccache compiles
# them once.
cross=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"
       "-DCMAKE_CXX_COMPILER_LAUNCHER=env;CCACHE_DIR=$root/build/ccache;ccache")
cmake -S "$root" -B "$root/build/windows" "${cross[@]}" >/dev/null
cmake --build "$root/build/windows" -j "$jobs"

exe_only="$root/build/exe-only"
cmake --fresh -S "$root" -B "$exe_only" "${cross[@]}" -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
    -DGOOGLETEST_SOURCE_DIR="$exe_only/no-googletest" -DWIXL=WIXL-NOTFOUND >"$exe_only.log"
if [ "$(grep -c '^-- Tests left out: ' "$exe_only.log")" -ne 1 ]; then
    cat "$exe_only.log"
    echo "without GoogleTest and wixl, configuring should say once that the tests are left out" >&2
    exit 1
fi
exe="$exe_only/src/platform/windows/clearstrand.exe"
rm -f "$exe"
cmake --build "$exe_only" -j "$jobs" --target clearstrand
[ -f "$exe" ] || { echo "without GoogleTest and wixl, no clearstrand.exe came out" >&2; exit 1; }
echo "built without GoogleTest and wixl: $exe"
