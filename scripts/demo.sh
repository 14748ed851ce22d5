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
cmake --build "$build" -j "$(nproc)" --target clearstrand
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
    export DISPLAY=$(cat "$demo/display")
    "$root/scripts/wine-env.sh" run "$demo" "$exe" >"$demo/run.log" 2>&1 &
    # Answers the disclaimer once it is on screen, then lets the window fill
    # its tree. A box that is still being mapped may refuse the key: again.
    window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true; }
    for _ in $(seq 120); do
        [ -n "$(window '^Clearstrand Utility$')" ] && break
        box=$(window '^Clearstrand$')
        [ -n "$box" ] && xdotool key --window "$box" Return 2>/dev/null || true
        sleep 0.5
    done
    main=$(window '^Clearstrand Utility$')
    if [ -z "$main" ]; then
        cat "$demo/run.log"
        echo "the demo window did not come up" >&2
        exit 1
    fi
    sleep 3
    eval "$(xdotool getwindowgeometry --shell "$main")"
    import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$demo/clearstrand.png"
    echo "screenshot saved: $demo/clearstrand.png"
fi
"$root/scripts/wine-env.sh" stop "$demo"
