#!/usr/bin/env bash
# Installs what is missing, builds, and runs the stand-in host with Dovemarl.dll
# headless: every box is answered and printed, the monitor window is checked, and
# pictures of the boxes and the monitor window are saved.
#   ./scripts/demo.sh [STANDIN-HOST ARGS...]   pictures into the build folder's pictures/
#   ./scripts/demo.sh --refresh-pictures        pictures into docs/pictures/ (the README's)
# The pictures show the process id and so differ on every run: only
# --refresh-pictures touches the committed ones. It runs in a 32-bit Windows,
# or where this machine runs no 32-bit Linux program in the new WoW64 mode;
# DOVEMARL_WINE names another configuration (scripts/wine-config.sh).
set -euo pipefail
. "$(dirname "$0")/wine-session.sh"
refresh=0
if [ "${1:-}" = --refresh-pictures ]; then
    refresh=1
    shift
fi
prepare_wine_build
config="$(wine_configs_for demo)"
trap wine_session_stop EXIT
wine_session_start "$build" "$config"
echo "demo: Windows configuration $config: $(wine_config_describe "$config")"
if [ "$refresh" = 1 ]; then
    pictures="$root/docs/pictures"
else
    pictures="$build/pictures"
fi
cd "$build/bin"
status=0
wine_run standin-host.exe --auto --pictures "$pictures" "$@" </dev/null || status=$?
echo "demo: pictures in $pictures"
exit "$status"
