# Sourced by scripts/wine-session.sh, tests/stress/in_null_driver_prefix.sh and
# tests/cold_start/cold_rounds.sh: the Windows configurations in which the
# project runs its 32-bit Windows programs, and which of them this machine can
# run. Defines wine_run, wine_config_use, wine_config_prefix, wine_configs_for
# and wine_config_check.
#
#   win32      a 32-bit Windows: a 32-bit prefix, the programs started by
#              Wine's 32-bit loader as 32-bit Linux processes.
#   wow64      a 64-bit Windows running them under WoW64, as nearly every user
#              does: a 64-bit prefix (system folder syswow64 for 32-bit
#              programs); Wine's 64-bit loader hands each 32-bit program to
#              its 32-bit loader, so they are still 32-bit Linux processes.
#   wow64-new  the same 64-bit Windows in Wine's experimental new WoW64 mode:
#              the 32-bit programs run inside 64-bit Linux processes. For a
#              kernel that starts no 32-bit Linux program.
#
# DOVEMARL_WINE (a configuration name, or several separated by spaces) picks
# the configurations instead of the machine; DOVEMARL_WINE=wow64-new tries the
# new mode on a machine that could do without it.

wine_config_names="win32 wow64 wow64-new"

. "$(dirname "${BASH_SOURCE[0]}")/emulation.sh"

# Runs a Windows program with the loader of the configuration in use (set by
# wine_config_use; Debian's wine when none is).
wine_run() {
    "${DOVEMARL_WINE_LOADER:-wine}" "$@"
}

# Whether this machine starts 32-bit Linux programs, Wine's 32-bit loader
# among them.
wine_machine_runs_32bit() {
    /usr/lib/wine/wine --version >/dev/null 2>&1
}

# Where this machine starts 32-bit Linux programs, the configurations run
# when DOVEMARL_WINE names none; elsewhere the new WoW64 mode is the one way.
wine_default_configs="win32"

# Prints the configurations to run, one line: those named by DOVEMARL_WINE,
# or the defaults this machine can run; for "demo" the first of them.
wine_configs_for() {
    local purpose="$1" configs name
    if [ -n "${DOVEMARL_WINE:-}" ]; then
        configs="$DOVEMARL_WINE"
        for name in $configs; do
            case " $wine_config_names " in
            *" $name "*) ;;
            *)
                echo "wine-config: unknown configuration '$name' in DOVEMARL_WINE" \
                    "(known: $wine_config_names)" >&2
                return 1
                ;;
            esac
        done
    elif wine_machine_runs_32bit; then
        configs="$wine_default_configs"
    else
        configs="wow64-new"
    fi
    if [ "$purpose" = demo ]; then
        configs="${configs%% *}"
    fi
    echo "$configs"
}

# The prefix folder of a configuration: BASE for win32, BASE-NAME otherwise
# (a 64-bit prefix cannot be shared with a 32-bit one).
wine_config_prefix() {
    local base="$1" name="${2:-${DOVEMARL_WINE_CONFIG:-win32}}"
    if [ "$name" = win32 ]; then
        echo "$base"
    else
        echo "$base-$name"
    fi
}

# Wine's 64-bit loader, alone in a copy of Wine's folder layout under FOLDER:
# when it meets a 32-bit program it looks for the 32-bit loader beside itself,
# finds none, and runs the program in the new WoW64 mode instead. The 32-bit
# Windows DLLs come from the i386 package, which the 64-bit package's own
# i386-windows folder lacks. The loader finds ntdll.so, and ntdll.so the DLL
# folders, by their real paths, so those two are copies; the rest are links.
wine_new_wow64_tree() {
    local tree="$1"
    local unix64=/usr/lib/x86_64-linux-gnu/wine
    local windows32=/usr/lib/i386-linux-gnu/wine/i386-windows
    if [ ! -x /usr/lib/wine/wine64 ] || [ ! -d "$unix64/x86_64-unix" ] || [ ! -d "$windows32" ]; then
        echo "wine-config: the new WoW64 mode needs wine64, libwine:amd64 and libwine:i386" \
            "(scripts/setup.sh installs them)" >&2
        return 1
    fi
    rm -rf "$tree"
    mkdir -p "$tree/lib/wine" "$tree/lib/x86_64-linux-gnu/wine" "$tree/share"
    cp /usr/lib/wine/wine64 "$tree/lib/wine/wine64"
    ln -s /usr/lib/wine/wineserver64 "$tree/lib/wine/wineserver"
    cp -r "$unix64/x86_64-unix" "$tree/lib/x86_64-linux-gnu/wine/x86_64-unix"
    ln -s "$unix64/x86_64-windows" "$tree/lib/x86_64-linux-gnu/wine/x86_64-windows"
    ln -s "$windows32" "$tree/lib/x86_64-linux-gnu/wine/i386-windows"
    ln -s /usr/share/wine "$tree/share/wine"
}

# Makes configuration NAME the one in use for the Wine programs this shell
# starts: its loader, its kind of prefix. BUILD is the build folder, where the
# new WoW64 mode's loader folder is kept.
wine_config_use() {
    local name="$1" build="$2"
    export DOVEMARL_WINE_CONFIG="$name"
    emulation_use "$build" || return 1
    case "$name" in
    win32 | wow64)
        if ! wine_machine_runs_32bit; then
            echo "wine-config: configuration $name needs a kernel that starts 32-bit x86" \
                "programs, and this one does not (its 32-bit emulation is off)" >&2
            return 1
        fi
        ;;
    esac
    case "$name" in
    win32)
        export WINEARCH=win32
        export DOVEMARL_WINE_LOADER=wine
        ;;
    wow64)
        export WINEARCH=win64
        export DOVEMARL_WINE_LOADER=/usr/lib/wine/wine64
        ;;
    wow64-new)
        export WINEARCH=win64
        wine_new_wow64_tree "$build/wine-new-wow64" || return 1
        export DOVEMARL_WINE_LOADER="$build/wine-new-wow64/lib/wine/wine64"
        ;;
    *)
        echo "wine-config: unknown configuration '$name'" >&2
        return 1
        ;;
    esac
}

# The system folder of 32-bit programs in the prefix of the configuration in
# use: SysWOW64 in a 64-bit prefix.
wine_32bit_system_folder() {
    if [ "$WINEARCH" = win64 ]; then echo syswow64; else echo system32; fi
}

# Whether the configuration in use starts a 32-bit Windows program in the
# prefix $WINEPREFIX (its server running); says why not when it does not.
# The program is the prefix's own 32-bit command interpreter.
wine_config_check() {
    local program="C:\\windows\\$(wine_32bit_system_folder)\\cmd.exe" status=0
    wine_run "$program" /c exit 37 >/dev/null 2>&1 </dev/null || status=$?
    [ "$status" -eq 37 ] && return 0
    echo "wine-session: configuration $DOVEMARL_WINE_CONFIG cannot start a 32-bit Windows" \
        "program here (a test program ended with status $status)" >&2
    if ! wine_machine_runs_32bit; then
        echo "wine-session: this kernel starts no 32-bit x86 program (its 32-bit emulation is" \
            "off; where it is built in, boot with ia32_emulation=on)." >&2
        if [ "$DOVEMARL_WINE_CONFIG" = wow64-new ]; then
            echo "wine-session: Wine 8.0's new WoW64 mode still needs the kernel's 32-bit" \
                "system call entry (int 0x80), to give each 32-bit thread its %fs selector;" \
                "a kernel whose 32-bit emulation is off has that entry off too, and each" \
                "32-bit program then faults as it starts (the kernel log shows a general" \
                "protection fault in ntdll.so). No configuration of Wine 8.0 runs the" \
                "32-bit plug-in on such a kernel." >&2
        fi
    fi
    return 1
}

# One line on what configuration NAME is, for the scripts' output.
wine_config_describe() {
    case "$1" in
    win32) echo "a 32-bit Windows (32-bit prefix)" ;;
    wow64) echo "a 64-bit Windows, the 32-bit programs under WoW64 (64-bit prefix)" ;;
    wow64-new) echo "a 64-bit Windows in Wine's experimental new WoW64 mode (32-bit programs in 64-bit Linux processes)" ;;
    esac
}

# What configuration NAME cannot pass, from the list in tests/: prints each
# skip with its reason, and sets wine_skipped_entries (a ctest -E pattern, or
# empty) and exports DOVEMARL_SKIPPED_CASES (gtest patterns, which the test
# programs leave out).
wine_config_skips() {
    local name="$1" list="$2" entry reason entries="" cases=""
    wine_skipped_entries=""
    export DOVEMARL_SKIPPED_CASES=""
    [ "$name" = wow64-new ] || return 0
    while read -r entry reason; do
        case "$entry" in
        "" | "#"*) continue ;;
        *.*) cases="${cases:+$cases:}$entry" ;;
        *) entries="${entries:+$entries|}$entry" ;;
        esac
        echo "   skipped in $name: $entry: $reason"
    done <"$list"
    [ -n "$entries" ] && wine_skipped_entries="^($entries)\$"
    DOVEMARL_SKIPPED_CASES="$cases"
}
