#!/usr/bin/env bash
# Installs what is missing, builds, and prints the benchmark figures (under Wine).
set -euo pipefail
. "$(dirname "$0")/wine-session.sh"
prepare_wine_run
cd "$build/bench"
wine runtime_bench.exe </dev/null
