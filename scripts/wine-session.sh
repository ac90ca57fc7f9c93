# Sourced by the demo, test and benchmark scripts: a private Wine prefix in the
# build folder, a private Xvfb display and one persistent wineserver for the
# whole session, in one of the Windows configurations of scripts/wine-config.sh.
# Defines wine_session_start and wine_session_stop, and prepare_wine_build,
# which the demo, test and benchmark scripts share.

. "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh"

# Starts a session in BUILD's prefix of configuration CONFIG (default win32):
# WINEPREFIX, DISPLAY and the loader are exported for what runs next. Fails,
# saying why, when the configuration cannot start a 32-bit Windows program
# on this machine.
wine_session_start() {
    local build="$1" config="${2:-win32}"
    wine_config_use "$config" "$build" || return 1
    export WINEPREFIX
    WINEPREFIX="$(wine_config_prefix "$build/wineprefix")"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="

    # A display of our own, so nothing else on the machine interferes.
    local n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    WINE_SESSION_XVFB=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done

    # Made on first use, brought up to date when its settings changed
    # (scripts/wine-prefix.sh: Wine's fonts, unmanaged windows).
    wine_prefix_prepare
    # Keep one server alive across all test processes, and start Wine's
    # background services now: they inherit the standard streams of the
    # process that starts them and would hold a caller's pipe open.
    wineserver -p >/dev/null 2>&1
    wine_run wineboot >/dev/null 2>&1 </dev/null || true
    wine_config_check
}

wine_session_stop() {
    # Only the session's own server (no prefix yet: no server of its own).
    [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1 || true
    [ -n "${WINE_SESSION_XVFB:-}" ] && kill "$WINE_SESSION_XVFB" >/dev/null 2>&1 || true
    WINE_SESSION_XVFB=""
}

# The build folder of a configure preset of CMakePresets.json: build/ for the
# default mingw preset, build-NAME/ for the others.
preset_build_dir() {
    local root="$1" preset="$2"
    if [ "$preset" = mingw ]; then
        echo "$root/build"
    else
        echo "$root/build-$preset"
    fi
}

# Installs what is missing and builds the preset named by $PRESET (default:
# mingw). Sets root, preset and build; the caller starts its sessions.
prepare_wine_build() {
    root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
    preset="${PRESET:-mingw}"
    build="$(preset_build_dir "$root" "$preset")"
    "$root/scripts/setup.sh"
    PRESET="$preset" "$root/scripts/build.sh"
}
