#!/usr/bin/env bash
# Makes the release zip of the commit checked out:
#   ./scripts/release.sh    writes dist/dovemarl-<version>-win32.zip and
#                           dist/dovemarl-<version>-win32.zip.sha256
# The zip is the commit's: a work tree with uncommitted changes is refused, and
# the build is made afresh from the commit's files in build-release/, with the
# default preset (mingw), configured as for the tests; only what the zip holds
# is built. The same commit gives the same zip, byte for byte, in any folder
# on any machine (see cmake/release_package.cmake).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

if ! git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    echo "release: $root is not a git work tree; a release is made from a commit" >&2
    exit 1
fi
changes="$(git status --porcelain --untracked-files=all)"
if [ -n "$changes" ]; then
    echo "release: refused: the work tree has uncommitted changes, and the zip must match" \
        "a commit. Commit or stash them first:" >&2
    printf '%s\n' "$changes" >&2
    exit 1
fi
commit="$(git rev-parse HEAD)"
time="$(git log -1 --format=%ct HEAD)"

"$root/scripts/setup.sh"

# The commit's files only, so that nothing ignored or left over in the work
# tree can find its way into the build.
work="$root/build-release"
rm -rf "$work"
mkdir -p "$work/source"
git archive --format=tar HEAD | tar -x -C "$work/source"
cd "$work/source"
cmake --preset mingw -DDOVEMARL_RELEASE_COMMIT="$commit" -DDOVEMARL_RELEASE_TIME="$time" \
    >/dev/null
cmake --build --preset mingw --target release_zip -j "$(nproc)"

mkdir -p "$root/dist"
zip=("$work/source/build/release/"dovemarl-*-win32.zip)
cp "${zip[0]}" "${zip[0]}.sha256" "$root/dist/"
name="$(basename "${zip[0]}")"
echo "release: dist/$name ($(stat -c %s "$root/dist/$name") bytes) from commit $commit"
cat "$root/dist/$name.sha256"
