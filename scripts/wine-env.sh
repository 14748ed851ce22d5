#!/usr/bin/env bash
# A private Wine prefix with its own headless X server and a persistent
# wineserver, for tests, benchmarks and the demo.
#
#   wine-env.sh start DIR [DPI]   make a new DIR/prefix (at DPI, 96 unless
#                           given), start Xvfb (or use the display in
#                           CLEARSTRAND_USE_DISPLAY) and wineserver
#   wine-env.sh stop DIR    end that wineserver and X server
#   wine-env.sh run DIR EXE [ARGS...]   run EXE in the prefix, print its output
#
# Never read a wine command's output through a pipe: Wine's background
# processes inherit it and the reader waits forever. Output goes to a file
# that is printed once wine has returned.
set -euo pipefail

cmd=${1:?usage: wine-env.sh start|stop|run DIR ...}
dir=$(mkdir -p "${2:?missing DIR}" && cd "$2" && pwd)
shift 2

export WINEPREFIX="$dir/prefix"
# The prefix links the user's shell folders (Documents, Desktop) to $HOME:
# a home of its own keeps whatever runs here away from the real one.
export HOME="$dir/home"
mkdir -p "$HOME"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
[ -f "$dir/display" ] && export DISPLAY=$(cat "$dir/display")

case "$cmd" in
start)
    # Every start is a new machine: end what ran in an old prefix, drop it.
    wineserver -k </dev/null >/dev/null 2>&1 || true
    if [ -f "$dir/xvfb.pid" ]; then kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true; fi
    rm -rf "$WINEPREFIX" "$HOME" "$dir/display" "$dir/xvfb.pid"
    mkdir -p "$HOME"
    unset DISPLAY
    [ -n "${CLEARSTRAND_USE_DISPLAY:-}" ] && export DISPLAY="$CLEARSTRAND_USE_DISPLAY"
    if [ -z "${DISPLAY:-}" ]; then
        # A free display number, away from the usual ones.
        n=90
        while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
        setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >"$dir/xvfb.log" 2>&1 &
        echo $! >"$dir/xvfb.pid"
        for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
        echo ":$n" >"$dir/display"
        export DISPLAY=":$n"
    else
        echo "$DISPLAY" >"$dir/display"
    fi
    setsid wineserver -p </dev/null >/dev/null 2>&1 || true
    wineboot -i </dev/null >"$dir/wineboot.log" 2>&1
    # Without a window manager Wine waits 2 s whenever a window hides,
    # unless its windows are unmanaged.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
        </dev/null >>"$dir/wineboot.log" 2>&1
    if [ -n "${1:-}" ]; then
        wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
            </dev/null >>"$dir/wineboot.log" 2>&1
    fi
    # The profile folders Wine links to the Linux home (Desktop, Documents,
    # Downloads...) become real folders of the prefix, each its own, as on
    # Windows: nothing run here may reach outside the prefix through them.
    users="$WINEPREFIX/drive_c/users"
    find "$users" -type l -print0 | while IFS= read -r -d '' link; do
        case "$(readlink -f "$link")" in
        "$WINEPREFIX"/*) ;;
        *) rm "$link" && mkdir "$link" ;;
        esac
    done
    outside=$(find "$users" -type l -exec sh -c 'case "$(readlink -f "$1")" in "$2"/*) ;; *) echo "$1" ;; esac' _ {} "$WINEPREFIX" \;)
    if [ -n "$outside" ]; then
        echo "links out of the prefix remain under $users:" >&2
        echo "$outside" >&2
        exit 1
    fi
    wineserver -w </dev/null >/dev/null 2>&1 &
    echo "wine prefix ready: $WINEPREFIX on $DISPLAY"
    ;;
stop)
    wineserver -k </dev/null >/dev/null 2>&1 || true
    if [ -f "$dir/xvfb.pid" ]; then
        kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
        rm -f "$dir/xvfb.pid"
    fi
    rm -f "$dir/display"
    ;;
run)
    log=$(mktemp "$dir/run.XXXXXX.log")
    rc=0
    wine "$@" </dev/null >"$log" 2>&1 || rc=$?
    cat "$log"
    rm -f "$log"
    exit "$rc"
    ;;
*)
    echo "unknown command: $cmd" >&2
    exit 2
    ;;
esac
