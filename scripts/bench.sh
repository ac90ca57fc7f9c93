#!/usr/bin/env bash
# Installs what is missing, builds, and prints the benchmark table (under Wine),
# with the machine it ran on. Exit status 1 when a goal was missed.
set -euo pipefail
. "$(dirname "$0")/wine-session.sh"
prepare_wine_build
config="$(wine_configs_for demo)"
trap wine_session_stop EXIT
wine_session_start "$build" "$config"
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(free -g | awk '/Mem:/ {print $2}') GiB;" \
     "$(. /etc/os-release && echo "$PRETTY_NAME"); $(wine_run --version); Windows configuration $config; Xvfb"
cd "$build/bench"
wine_run dovemarl_bench.exe "$@" </dev/null
