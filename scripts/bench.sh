#!/usr/bin/env bash
# Installs what is missing, builds, and prints the benchmark figures (under Wine).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
"$root/scripts/setup.sh"
BUILD_DIR="$build" "$root/scripts/build.sh"
. "$root/scripts/wine-session.sh"
wine_session_start "$build"
trap wine_session_stop EXIT
cd "$build/bench"
wine runtime_bench.exe </dev/null
