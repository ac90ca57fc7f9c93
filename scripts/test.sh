#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite under Wine,
# once in each Windows configuration (scripts/wine-config.sh).
#   ./scripts/test.sh [CTEST ARGS...]                  the default build (preset mingw)
#   PRESET=clang ./scripts/test.sh [CTEST ARGS...]     one other preset: clang or ubsan
#   ./scripts/test.sh --all-compilers [CTEST ARGS...]  mingw, clang and ubsan in turn
#   DOVEMARL_WINE="win32 wow64" ./scripts/test.sh      the configurations named
#                                                       (win32, wow64, wow64-new)
set -euo pipefail

if [ "${1:-}" = --all-compilers ]; then
    shift
    failed=()
    for preset in mingw clang ubsan; do
        echo "== test.sh: preset $preset"
        start=$SECONDS
        if PRESET="$preset" "$0" "$@"; then
            echo "== test.sh: preset $preset passed in $((SECONDS - start)) s"
        else
            echo "== test.sh: preset $preset FAILED after $((SECONDS - start)) s"
            failed+=("$preset")
        fi
    done
    [ ${#failed[@]} -eq 0 ] || { echo "== test.sh: failed: ${failed[*]}"; exit 1; }
    exit 0
fi

. "$(dirname "$0")/wine-session.sh"
prepare_wine_build
configs="$(wine_configs_for test)"
cd "$root"

# Each configuration in a session of its own; the output says which one ran.
failed=()
for config in $configs; do
    echo "== test.sh: Windows configuration $config: $(wine_config_describe "$config")"
    start=$SECONDS
    # (set -e does not hold inside a tested subshell: each step says so.)
    if (
        trap wine_session_stop EXIT
        wine_config_skips "$config" "$root/tests/new_wow64_skips.txt" || exit 1
        wine_session_start "$build" "$config" || exit 1
        if [ -n "$wine_skipped_entries" ]; then
            ctest --preset "$preset" -E "$wine_skipped_entries" "$@"
        else
            ctest --preset "$preset" "$@"
        fi
    ); then
        echo "== test.sh: configuration $config passed in $((SECONDS - start)) s"
    else
        echo "== test.sh: configuration $config FAILED after $((SECONDS - start)) s"
        failed+=("$config")
    fi
done
[ ${#failed[@]} -eq 0 ] || { echo "== test.sh: failed in: ${failed[*]}"; exit 1; }
