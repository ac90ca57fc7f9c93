#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite under Wine.
#   ./scripts/test.sh [CTEST ARGS...]                  the default build (preset mingw)
#   PRESET=clang ./scripts/test.sh [CTEST ARGS...]     one other preset: clang or ubsan
#   ./scripts/test.sh --all-compilers [CTEST ARGS...]  mingw, clang and ubsan in turn
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
prepare_wine_run
cd "$root"
ctest --preset "$preset" "$@"
