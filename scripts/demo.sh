#!/usr/bin/env bash
# Installs what is missing, builds, and runs the stand-in host with Dovemarl.dll
# headless: every box is answered automatically and printed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
"$root/scripts/setup.sh"
BUILD_DIR="$build" "$root/scripts/build.sh"
. "$root/scripts/wine-session.sh"
wine_session_start "$build"
trap wine_session_stop EXIT
cd "$build/bin"
wine standin-host.exe --auto "$@"
