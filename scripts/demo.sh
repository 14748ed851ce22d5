#!/usr/bin/env bash
# Sets up, builds clearstrand.exe and opens it on a demo Wine prefix seeded
# with a sample machine. With $DISPLAY it opens there and waits until you
# close it; without one it runs under Xvfb and saves a screenshot.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/windows"
demo="$root/build/demo"

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$build" -j "$(nproc)" --target clearstrand demo_driver
exe="$build/src/platform/windows/clearstrand.exe"

"$root/scripts/wine-env.sh" stop "$demo"
if [ -n "${DISPLAY:-}" ]; then
    CLEARSTRAND_USE_DISPLAY="$DISPLAY" "$root/scripts/wine-env.sh" start "$demo"
else
    "$root/scripts/wine-env.sh" start "$demo"
fi
"$root/scripts/seed-demo.sh" "$demo"

if [ -n "${DISPLAY:-}" ]; then
    echo "opening Clearstrand on $DISPLAY; close it to end the demo"
    "$root/scripts/wine-env.sh" run "$demo" "$exe" || true
else
    rm -f "$demo/ready" "$demo/shot"
    "$root/scripts/wine-env.sh" run "$demo" "$build/tests/wine/demo_driver.exe" "$exe" "$demo" \
        >"$demo/driver.log" 2>&1 &
    driver=$!
    for _ in $(seq 120); do [ -e "$demo/ready" ] && break; sleep 0.5; done
    if [ ! -e "$demo/ready" ]; then
        cat "$demo/driver.log"
        echo "the demo did not reach Ready" >&2
        exit 1
    fi
    sleep 0.5
    import -display "$(cat "$demo/display")" -window root -crop "$(cat "$demo/ready")" +repage "$demo/clearstrand.png"
    touch "$demo/shot"
    wait "$driver" || true
    cat "$demo/driver.log"
    echo "screenshot saved: $demo/clearstrand.png"
fi
"$root/scripts/wine-env.sh" stop "$demo"
