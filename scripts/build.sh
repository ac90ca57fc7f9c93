#!/usr/bin/env bash
# Configures and builds everything (the DLL, stand-ins, tests, benchmarks) with
# the CMake preset named by $PRESET: mingw (the default, into build/), clang
# (into build-clang/) or ubsan (into build-ubsan/). See CMakePresets.json.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
preset="${PRESET:-mingw}"
cd "$root"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"
