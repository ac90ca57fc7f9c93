# Sourced by the demo and test scripts: a private Wine prefix in the build folder,
# a private Xvfb display and one persistent wineserver for the whole session.
# Defines wine_session_start and wine_session_stop, and prepare_wine_run,
# which the demo, test and benchmark scripts share.

# Wine runs the 32-bit plug-in and its hosts as 32-bit Linux processes, which
# a 64-bit kernel runs only while its 32-bit emulation is on. Without it every
# Wine program fails at once; say why instead.
wine_check_machine() {
    local answer
    if answer="$(wineserver --version 2>&1)"; then
        return 0
    fi
    echo "wine-session: Wine cannot run on this machine: $answer" >&2
    if [ "$(uname -m)" = x86_64 ]; then
        echo "wine-session: this kernel does not run 32-bit x86 programs; its 32-bit" \
            "emulation is off (boot the kernel with ia32_emulation=on)" >&2
    fi
    return 1
}

. "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh"

wine_session_start() {
    local build="$1"
    wine_check_machine || return 1
    export WINEPREFIX="$build/wineprefix"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEARCH=win32

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
    wine wineboot >/dev/null 2>&1 </dev/null || true
}

wine_session_stop() {
    # Only the session's own server (no prefix yet: no server of its own).
    [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1 || true
    [ -n "${WINE_SESSION_XVFB:-}" ] && kill "$WINE_SESSION_XVFB" >/dev/null 2>&1 || true
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

# Installs what is missing, builds the preset named by $PRESET (default: mingw)
# and starts a session in its build folder that ends when the calling script
# exits. Sets root, preset and build.
prepare_wine_run() {
    root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
    preset="${PRESET:-mingw}"
    build="$(preset_build_dir "$root" "$preset")"
    "$root/scripts/setup.sh"
    PRESET="$preset" "$root/scripts/build.sh"
    # Set first, so that a session that fails to start leaves no Xvfb behind.
    trap wine_session_stop EXIT
    wine_session_start "$build"
}
