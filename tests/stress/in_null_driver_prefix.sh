#!/usr/bin/env bash
# usage: in_null_driver_prefix.sh PREFIX COMMAND...
# Runs COMMAND in the Wine prefix PREFIX, whose graphics driver is Wine's null
# driver (windows, messages, activation and boxes without X). Makes the prefix
# on first use, brings it up to date when the project's prefix settings changed,
# and ends its wineserver afterwards; the caller's own prefix and server are
# left alone. The prefix is of the caller's Windows configuration
# (scripts/wine-config.sh; win32 when none is in use), and PREFIX gets the
# configuration's name as a suffix for the 64-bit ones.
set -euo pipefail

# The project's prefix settings (scripts/wine-prefix.sh), with the null driver.
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-prefix.sh"

export WINEPREFIX
WINEPREFIX="$(wine_config_prefix "$1")"
shift
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEARCH="${WINEARCH:-win32}"

wine_prefix_prepare null
# Start the prefix's background services now, with their output going to
# nowhere: started by the test they would hold the caller's pipe open.
wineserver -p >/dev/null 2>&1
wine_run wineboot >/dev/null 2>&1 </dev/null || true

status=0
"$@" || status=$?
wineserver -k >/dev/null 2>&1 || true
exit "$status"
