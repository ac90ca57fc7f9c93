#!/usr/bin/env bash
# Runs clang-tidy (configuration: .clang-tidy) over the module's code in src/,
# with the compile commands of the clang build (preset clang, build-clang/).
# Fails on any finding. Extra arguments go to clang-tidy.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
cd "$root"
cmake --preset clang >/dev/null
build="$root/build-clang"

mapfile -t sources < <(find src -name '*.cpp' | sort)
echo "tidy: ${#sources[@]} files of src/ with $(clang-tidy --version | grep -o 'version [0-9.]*')"
# clang-tidy counts the warnings of system headers it suppressed on stderr;
# only that line is dropped.
if printf '%s\n' "${sources[@]}" |
    xargs -P "$(nproc)" -n 1 clang-tidy -p "$build" --quiet "$@" \
        2> >(grep -Ev '^[0-9]+ warnings? generated\.$' >&2); then
    echo "tidy: no findings"
else
    echo "tidy: FAILED: findings above"
    exit 1
fi
