# Sourced by scripts/wine-session.sh, tests/stress/in_null_driver_prefix.sh and
# tests/cold_start/cold_rounds.sh:
# the registry settings of every Wine prefix the project makes, in one place.
# Defines wine_prefix_settings and wine_prefix_prepare. The prefix is made with
# the loader of the Windows configuration in use (scripts/wine-config.sh).

. "$(dirname "${BASH_SOURCE[0]}")/wine-config.sh"

# Prints the settings file of a prefix; with "null", the prefix's graphics
# driver is Wine's null driver instead of X11.
wine_prefix_settings() {
    local graphics="${1:-}"
    printf 'REGEDIT4\n\n'
    # Debian's Wine computes its font folder as /usr/lib/wine/../../share/wine/fonts,
    # a path its own file layer refuses, so none of its fonts would load: captions
    # would draw the close button as the letter "r" (no Marlett) and dialogs would
    # lose Tahoma. The real folder, given here, is searched as well.
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts]\n"Path"="Z:\\\\usr\\\\share\\\\wine\\\\fonts"\n\n'
    # Unmanaged windows: Wine decides activation itself, without waiting for a
    # window manager on every map and unmap.
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n\n'
    if [ "$graphics" = null ]; then
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\Drivers]\n"Graphics"="null"\n\n'
    fi
}

# Whether the prefix $WINEPREFIX has its 32-bit programs: one made while
# none could start lacks them (the 32-bit half of Wine's set-up died), and
# would stay broken once 32-bit programs start.
wine_prefix_complete() {
    [ -f "$WINEPREFIX/drive_c/windows/$(wine_32bit_system_folder)/cmd.exe" ]
}

# Makes the prefix $WINEPREFIX on first use and brings it up to date when the
# settings changed since: the settings last applied are kept in the prefix and
# compared with the current ones, and are recorded only in a complete prefix.
# An incomplete prefix is made again. Argument: as for wine_prefix_settings.
# Ends with no wineserver of the prefix running.
wine_prefix_prepare() {
    local applied="$WINEPREFIX/.dovemarl-settings.reg"
    local wanted
    wanted="$(wine_prefix_settings "$@")"
    if wine_prefix_complete; then
        if [ -f "$applied" ] && [ "$(cat "$applied")" = "$wanted" ]; then
            return 0
        fi
    elif [ -d "$WINEPREFIX" ]; then
        wineserver -k >/dev/null 2>&1 || true
        rm -rf "$WINEPREFIX"
    fi
    mkdir -p "$WINEPREFIX"
    wine_run wineboot --init >/dev/null 2>&1 </dev/null || true
    local reg="$WINEPREFIX/dovemarl-settings.reg.new"
    printf '%s\n' "$wanted" >"$reg"
    wine_run regedit /S "$reg" >/dev/null 2>&1 </dev/null
    wineserver -w
    if wine_prefix_complete; then
        mv "$reg" "$applied"
    else
        rm -f "$reg"
    fi
}
