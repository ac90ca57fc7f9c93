#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite under Wine.
set -euo pipefail
. "$(dirname "$0")/wine-session.sh"
prepare_wine_run
cd "$build"
ctest --output-on-failure --timeout 600 "$@"
