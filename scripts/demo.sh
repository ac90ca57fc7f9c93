#!/usr/bin/env bash
# Installs what is missing, builds, and runs the stand-in host with Dovemarl.dll
# headless: every box is answered automatically and printed.
set -euo pipefail
. "$(dirname "$0")/wine-session.sh"
prepare_wine_run
cd "$build/bin"
wine standin-host.exe --auto "$@" </dev/null
