#!/usr/bin/env bash
# Installs what building and running Dovemarl needs on Debian 12: the mingw-w64
# cross-compilers, Wine (32-bit), Xvfb, CMake and GoogleTest's sources, and for
# the second build and the checks clang, lld, clang-tidy and clang-format.
# Idempotent: does nothing when everything is already there.
set -euo pipefail

packages=(g++-mingw-w64-i686 wine wine32:i386 xvfb xauth cmake googletest
          clang lld clang-tidy clang-format)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "setup: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${packages[@]}" >/dev/null
