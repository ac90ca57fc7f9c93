#!/usr/bin/env bash
# Installs what building and running Dovemarl needs on Debian 12: the mingw-w64
# cross-compilers, Wine (32-bit, and 64-bit for the WoW64 configurations of
# scripts/wine-config.sh), Xvfb, CMake and GoogleTest's sources, for the second
# build and the checks clang, lld, clang-tidy and clang-format, and zip for the
# release (scripts/release.sh); on a kernel that starts no 32-bit program,
# qemu-user to run Wine's 32-bit loader (scripts/emulation.sh).
# Idempotent: does nothing when everything is already there.
set -euo pipefail

. "$(dirname "$0")/emulation.sh"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

packages=(g++-mingw-w64-i686 wine wine32:i386 wine64 libwine:amd64 libwine:i386 xvfb xauth
          cmake googletest clang lld clang-tidy clang-format zip)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    emulation_setup "$sudo"
    exit
fi

echo "setup: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
# A mirror in mid-sync can fail one list (seen: the i386 security list, whose
# size did not match its Release file). The others are still good, so go on.
lists_complete=yes
if ! $sudo apt-get update -qq; then
    lists_complete=no
    echo "setup: some package lists could not be fetched; going on with those that were"
fi
apt_install() {
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$@" "${packages[@]}" >/dev/null
}
if ! apt_install; then
    [ "$lists_complete" = yes ] && exit 1
    # Without one architecture's security list, wine32:i386 cannot match the
    # amd64 versions of its multiarch libraries. Taking every package from the
    # release itself keeps the two architectures at one version.
    release=$(. /etc/os-release && echo "$VERSION_CODENAME")
    echo "setup: installing from $release alone, so both architectures agree"
    apt_install -t "$release"
fi
emulation_setup "$sudo"
