#!/usr/bin/env bash
# Sets up, builds both builds and runs every test: the scenarios and the
# folder table natively with the sanitizers, then the Windows code under Wine.
# Last, the program is built as on a machine with neither GoogleTest nor wixl.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
start=$(date +%s)

"$root/scripts/setup.sh"
"$root/scripts/build.sh"

ctest --test-dir "$root/build/native" -j "$(nproc)" --output-on-failure
# The Wine tests share one prefix: one at a time.
ctest --test-dir "$root/build/windows" --output-on-failure

# A fresh configure each time; the objects of the last run are reused.
exe_only="$root/build/exe-only"
cmake --fresh -S "$root" -B "$exe_only" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
    -DGOOGLETEST_SOURCE_DIR="$exe_only/no-googletest" -DWIXL=WIXL-NOTFOUND >"$exe_only.log"
if [ "$(grep -c '^-- Tests left out: ' "$exe_only.log")" -ne 1 ]; then
    cat "$exe_only.log"
    echo "without GoogleTest and wixl, configuring should say once that the tests are left out" >&2
    exit 1
fi
exe="$exe_only/src/platform/windows/clearstrand.exe"
rm -f "$exe"
cmake --build "$exe_only" -j "$(nproc)" --target clearstrand
[ -f "$exe" ] || { echo "without GoogleTest and wixl, no clearstrand.exe came out" >&2; exit 1; }
echo "built without GoogleTest and wixl: $exe"

echo "all tests passed in $(($(date +%s) - start)) s"
