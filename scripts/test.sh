#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite under Wine,
# once in each Windows configuration (scripts/wine-config.sh).
#   ./scripts/test.sh [CTEST ARGS...]                  the default build (preset mingw)
#   PRESET=clang ./scripts/test.sh [CTEST ARGS...]     one other preset: clang or ubsan
#   ./scripts/test.sh --all-compilers [CTEST ARGS...]  mingw, clang and ubsan in turn
#   DOVEMARL_WINE="win32 wow64" ./scripts/test.sh      the configurations named
#                                                       (win32, wow64, wow64-new)
set -euo pipefail

# Runs a step (a command and its arguments) and says how it ended and how long
# it took; a failed step's NAME is added to failed.
failed=()
timed_step() {
    local what="$1" name="$2" start=$SECONDS
    shift 2
    if "$@"; then
        echo "== test.sh: $what $name passed in $((SECONDS - start)) s"
    else
        echo "== test.sh: $what $name FAILED after $((SECONDS - start)) s"
        failed+=("$name")
    fi
}

if [ "${1:-}" = --all-compilers ]; then
    shift
    for preset in mingw clang ubsan; do
        echo "== test.sh: preset $preset"
        timed_step preset "$preset" env PRESET="$preset" "$0" "$@"
    done
    [ ${#failed[@]} -eq 0 ] || { echo "== test.sh: failed: ${failed[*]}"; exit 1; }
    exit 0
fi

. "$(dirname "$0")/wine-session.sh"
prepare_wine_build
configs="$(wine_configs_for test)"
cd "$root"

# The suite in configuration CONFIG, in a session of its own (a subshell, so
# that the session ends with it; set -e does not hold inside a tested step:
# each step says so).
run_config() (
    local config="$1"
    shift
    trap wine_session_stop EXIT
    wine_config_skips "$config" "$root/tests/new_wow64_skips.txt" || exit 1
    wine_session_start "$build" "$config" || exit 1
    if [ -n "$wine_skipped_entries" ]; then
        ctest --preset "$preset" -E "$wine_skipped_entries" "$@"
    else
        ctest --preset "$preset" "$@"
    fi
)

# The output says which configuration ran.
for config in $configs; do
    echo "== test.sh: Windows configuration $config: $(wine_config_describe "$config")"
    timed_step configuration "$config" run_config "$config" "$@"
done
[ ${#failed[@]} -eq 0 ] || { echo "== test.sh: failed in: ${failed[*]}"; exit 1; }
