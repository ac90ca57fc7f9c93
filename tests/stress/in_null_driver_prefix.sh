#!/usr/bin/env bash
# usage: in_null_driver_prefix.sh PREFIX COMMAND...
# Runs COMMAND in the Wine prefix PREFIX, whose graphics driver is Wine's null
# driver (windows, messages, activation and boxes without X). Makes the prefix
# on first use, brings it up to date when the project's prefix settings changed,
# and ends its wineserver afterwards; the caller's own prefix and server are
# left alone.
set -euo pipefail
prefix="$1"
shift
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEARCH=win32

# The project's prefix settings (scripts/wine-prefix.sh), with the null driver.
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-prefix.sh"
wine_prefix_prepare null
# Start the prefix's background services now, with their output going to
# nowhere: started by the test they would hold the caller's pipe open.
wineserver -p >/dev/null 2>&1
wine wineboot >/dev/null 2>&1 </dev/null || true

status=0
"$@" || status=$?
wineserver -k >/dev/null 2>&1 || true
exit "$status"
