#!/usr/bin/env bash
# usage: cold_rounds.sh MODE ROUNDS WORK HOST PLUGIN [fresh|session]
# Runs cold_host.exe MODE PLUGIN ROUNDS times, each in a process of its own
# bounded by a time-out, and prints one line per round and a summary; exits 1
# if any round hung or failed. WORK is a folder for prefixes and logs, emptied
# first.
# fresh (the default): each round in a Wine prefix made afresh, alternating
# Wine's null and X11 graphics drivers. A fresh prefix is what a user's first
# run meets: nothing of the display set up yet, so the first window takes long
# enough for a plug-in that needs the loader lock and the display together to
# be caught waiting.
# session: every round in the caller's prefix, under its running server; each
# round is still a new process whose display nobody has used yet. With the
# null driver that set-up is slow enough to catch a plug-in every time.
set -uo pipefail
mode="$1" rounds="$2" work="$3" host="$4" plugin="$5" prefixes="${6:-fresh}"
limit="${COLD_TIME_LIMIT:-60}" # seconds; a round takes a few

# The caller's Windows configuration (scripts/wine-config.sh), win32 when none
# is in use: the loader and the kind of prefix.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH="${WINEARCH:-win32}"

# The plug-in as the host sees it: Wine maps the Unix root to Z:.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-prefix.sh"

# The project's prefix settings, written straight into the prefix's registry
# file while no server runs (in that file's own form), so that no Wine process
# touches the display before the round.
settings() {
    local prefix="$1" driver="$2"
    wine_prefix_settings "$driver" | sed -e '/^REGEDIT4$/d' \
        -e '/^\[HKEY_CURRENT_USER\\/{s/^\[HKEY_CURRENT_USER\\//;s/\]$//;s/\\/\\\\/g;s/.*/[&] 0/}' \
        >>"$prefix/user.reg"
}

rm -rf "$work"
mkdir -p "$work"
hung=0 failed=0 start=$SECONDS
for round in $(seq "$rounds"); do
    log="$work/round-$round.log"
    driver="the prefix's" made=0
    if [ "$prefixes" = fresh ]; then
        driver=x11
        [ $((round % 2)) -eq 1 ] && driver=null
        export WINEPREFIX="$work/prefix-$round"
        made=$SECONDS
        wine_run wineboot --init >/dev/null 2>&1 </dev/null
        wineserver -w
        settings "$WINEPREFIX" "$driver"
        made=$((SECONDS - made))
    fi
    ran=$SECONDS
    timeout -k 5 "$limit" "${DOVEMARL_WINE_LOADER:-wine}" "$host" "$mode" "$(windows_path "$plugin")" >"$log" 2>&1 </dev/null
    status=$?
    ran=$((SECONDS - ran))
    if [ "$prefixes" = fresh ]; then
        # A hung process is ended with its prefix's server.
        wineserver -k >/dev/null 2>&1
        wineserver -w
        rm -rf "$WINEPREFIX"
    elif [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
        # The time-out's kill ends the process; this makes sure, and the
        # session's server stays.
        wine_run taskkill /F /IM cold_host.exe >/dev/null 2>&1 </dev/null
    fi
    if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
        hung=$((hung + 1))
        outcome="HUNG (no return within $limit s)"
    elif [ "$status" -ne 0 ]; then
        failed=$((failed + 1))
        outcome="FAILED (exit $status)"
    else
        outcome="ok"
    fi
    echo "cold $mode round $round ($driver driver): $outcome; prefix made in $made s, ran $ran s: $(tr '\n' ' ' <"$log")"
done
echo "cold $mode: $rounds rounds, $hung hung, $failed failed, $((SECONDS - start)) s"
[ "$hung" -eq 0 ] && [ "$failed" -eq 0 ]
