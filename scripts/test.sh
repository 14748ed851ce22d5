#!/usr/bin/env bash
# Sets up, builds every build (one of them the program alone, as on a machine
# with neither GoogleTest nor wixl) and runs every test: the scenarios and
# their fault replays natively with the sanitizers, then the Windows code and
# the real program under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
start=$(date +%s)

"$root/scripts/setup.sh"
"$root/scripts/build.sh"

ctest --test-dir "$root/build/native" -j "$(nproc)" --output-on-failure
# The Wine tests share one prefix: one at a time.
ctest --test-dir "$root/build/windows" --output-on-failure

echo "all tests passed in $(($(date +%s) - start)) s"
