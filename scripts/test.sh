#!/usr/bin/env bash
# Sets up, builds the three builds and runs every test: the native suites,
# the Windows suites under Wine, then the population fuzzer for a bounded time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
start=$(date +%s)

"$root/scripts/setup.sh"
"$root/scripts/build.sh"

ctest --test-dir "$root/build/native" -j "$(nproc)" --output-on-failure
# Wine tests share one prefix: run them one at a time.
ctest --test-dir "$root/build/windows" --output-on-failure
# Verbose, so that the fuzzer's final figures show.
ctest --test-dir "$root/build/fuzz" -V

echo "all tests passed in $(($(date +%s) - start)) s"
