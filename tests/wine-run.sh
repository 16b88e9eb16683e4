#!/bin/sh
# Runs a Windows program under Wine in the build folder's own prefix, on a virtual display when
# there is none. Usage: wine-run.sh BUILD_DIR PROGRAM [ARGUMENTS...]
set -eu
build_dir=$1
shift

if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null 2>&1; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build_dir" "$@"
fi

export WINEPREFIX="$build_dir/wineprefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# The build folder says which loader its programs need (written by CMake). Debian's wine wrapper
# takes the 32-bit loader whenever it is installed, even on a host that cannot run it, so a 64-bit
# build goes straight to the 64-bit loader.
wine=wine
if [ "$(cat "$build_dir/wine-arch" 2>/dev/null)" = win64 ]; then
    wine=/usr/lib/wine/wine64
    export WINELOADER="$wine"
fi
# No Mono or Gecko installer prompts in a headless prefix.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# Create the prefix once; concurrent test processes wait for the first one.
mkdir -p "$WINEPREFIX"
(
    flock 9
    if [ ! -f "$WINEPREFIX/.ordovan-ready" ]; then
        "$wine" wineboot --init >/dev/null 2>&1 || true
        # A crashing test must fail, not wait for someone to close Wine's crash dialog.
        "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
            >/dev/null 2>&1
        # One Wine-drawn desktop instead of bare X windows: windows get their frames and caption
        # without a window manager, and focus and activation stay inside Wine.
        "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
        "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f \
            >/dev/null 2>&1
        # Debian's Wine does not find the font of the caption buttons on its own.
        if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
            cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
        fi
        wineserver -w 2>/dev/null || true
        touch "$WINEPREFIX/.ordovan-ready"
    fi
) 9>"$build_dir/wineprefix.lock"

# Keep one server (and the desktop) alive between the many short test processes.
# Its output must not hold the caller's pipes open: ctest waits for them to close.
wineserver -p"${ORDOVAN_WINESERVER_PERSIST:-30}" </dev/null >/dev/null 2>&1 || true

# Wine's own service processes, started by the first program, inherit its output and outlive it;
# ctest would wait for them. Let them inherit a file instead and pass the output on afterwards.
output=$(mktemp)
trap 'rm -f "$output"' EXIT
status=0
"$wine" "$@" >"$output" 2>&1 </dev/null || status=$?
cat "$output"
# A program that crashed has failed, whatever its exit status: after Wine's debugger has dealt
# with the crash, the status is now and then 0 (4 of 15 crashed runs of one test here).
if [ "$status" -eq 0 ] && grep -q '^wine: Unhandled ' "$output"; then
    echo "wine-run.sh: the program crashed (Wine's crash report above)" >&2
    status=3
fi
exit "$status"
