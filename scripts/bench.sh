#!/usr/bin/env bash
# Builds the Windows build and runs the benchmark under Wine in a prefix of
# its own; prints the table and writes build/bench/bench.json and
# build/bench/bench.txt.
#
#   scripts/bench.sh           the full sizes (start-up at N = 0; N = 100, 1,000,
#                              10,000; M = 0, 20; the erase)
#   scripts/bench.sh --tiny    N = 10, M = 0 and 1, one run each: proves it works
#   scripts/bench.sh --erase   the folder erase alone
#   --erase-in FOLDER          its trees there (a Unix path) rather than on C:
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
args=()
while [ $# -gt 0 ]; do
    case "$1" in
    --tiny) args+=(--tiny) ;;
    --erase) args+=(--erase) ;;
    --erase-in) args+=(--erase-in "$2"); shift ;;
    *) echo "usage: $0 [--tiny] [--erase] [--erase-in FOLDER]" >&2; exit 2 ;;
    esac
    shift
done

"$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build/windows" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$root/build/windows" -j "$(nproc)" --target clearstrand clearstrand_bench

out="$root/build/bench"
mkdir -p "$out"
rm -f "$out/bench.json" "$out/bench.txt"
"$root/scripts/wine-env.sh" start "$out"
trap '"$root/scripts/wine-env.sh" stop "$out"' EXIT
"$root/scripts/wine-env.sh" run "$out" "$root/build/windows/bench/clearstrand_bench.exe" "${args[@]}" \
    --exe "$root/build/windows/src/platform/windows/clearstrand.exe" \
    --msi-dir "$root/build/windows/bench/msi" \
    --out "$out/bench.json" --table "$out/bench.txt"
echo "written: $out/bench.json, $out/bench.txt"
