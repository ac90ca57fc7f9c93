#!/usr/bin/env bash
# Installs what is missing, builds, and runs the stand-in host with Dovemarl.dll
# headless: every box is answered and printed, the monitor window is checked, and
# pictures of the boxes and the monitor window go into docs/pictures/.
set -euo pipefail
. "$(dirname "$0")/wine-session.sh"
prepare_wine_run
cd "$build/bin"
wine standin-host.exe --auto --pictures "$root/docs/pictures" "$@" </dev/null
