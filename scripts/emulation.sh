# Sourced by scripts/setup.sh and scripts/wine-config.sh: running 32-bit x86
# Linux programs, Wine's 32-bit loader among them, on a kernel that starts
# none (its 32-bit emulation off, or a virtual machine without 32-bit code
# segments: "Exec format error" from every 32-bit ELF). There, the kernel hands
# every 32-bit ELF to qemu-user through a binfmt_misc entry of our own, and
# each such process preloads scripts/emulation/signal_fixes.c, which makes the
# signals qemu delivers look as the kernel's (Wine reads its exceptions from
# them).
#
# Wine 8.0 needs qemu 8 or later: older ones ignore MAP_FIXED_NOREPLACE, and
# Wine's first process then fails to map the shared user data. Debian 12 has
# 7.2, its backports suite 10.0; both are Debian's packages.

emulation_entry_name=dovemarl-i386
emulation_entry=/proc/sys/fs/binfmt_misc/$emulation_entry_name
emulation_qemu=/usr/bin/qemu-i386-static
emulation_fixes_name=libdovemarl-signal-fixes.so

# Whether 32-bit programs run here through our binfmt_misc entry.
emulation_active() {
    [ -r "$emulation_entry" ] && [ "$(head -n 1 "$emulation_entry")" = enabled ]
}

# The major version of the qemu-user installed, or 0.
emulation_qemu_major() {
    local version
    version=$("$emulation_qemu" --version 2>/dev/null | sed -n 's/.*version \([0-9]*\)\..*/\1/p')
    echo "${version:-0}"
}

# Installs qemu-user (8 or later) and the 32-bit C library for the preload,
# and registers the binfmt_misc entry, when this kernel starts no 32-bit
# program by itself. SUDO is empty or "sudo". Nothing to do where 32-bit
# programs run, natively or through our entry.
emulation_setup() {
    local sudo="$1"
    if emulation_active && [ "$(emulation_qemu_major)" -ge 8 ]; then
        return 0
    fi
    if ! emulation_active && /usr/lib/wine/wine --version >/dev/null 2>&1; then
        return 0
    fi
    echo "setup: this kernel starts no 32-bit x86 program; installing qemu-user to run them"
    if [ "$(emulation_qemu_major)" -lt 8 ]; then
        local release
        release=$(. /etc/os-release && echo "$VERSION_CODENAME")
        if ! grep -rqs "$release-backports" /etc/apt/sources.list /etc/apt/sources.list.d/; then
            printf '%s\n' "Types: deb" "URIs: http://deb.debian.org/debian" \
                "Suites: $release-backports" "Components: main" \
                "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" |
                $sudo tee /etc/apt/sources.list.d/dovemarl-backports.sources >/dev/null
        fi
        $sudo apt-get update -qq || true
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
            "qemu-user-static/$release-backports" >/dev/null
    fi
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq gcc-multilib >/dev/null
    if [ "$(emulation_qemu_major)" -lt 8 ]; then
        echo "setup: qemu-user $(emulation_qemu_major) is too old for Wine (8 or later needed)" >&2
        return 1
    fi
    if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
        $sudo mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    fi
    [ -e "$emulation_entry" ] && echo -1 | $sudo tee "$emulation_entry" >/dev/null
    # An i386 executable or shared object; F opens qemu now, so that it is
    # found from any mount namespace or root.
    local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    echo ":$emulation_entry_name:M::$magic:$mask:$emulation_qemu:F" |
        $sudo tee /proc/sys/fs/binfmt_misc/register >/dev/null
    if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
        echo "setup: Wine's 32-bit loader does not start through qemu-user either" >&2
        return 1
    fi
}

# Where 32-bit programs run through our entry: builds the signal fixes into
# BUILD/emulation and has qemu preload them into every 32-bit process (and an
# empty twin into the 64-bit programs those start, which inherit the setting).
emulation_use() {
    local build="$1" folder
    emulation_active || return 0
    folder="$build/emulation"
    local source
    source="$(dirname "${BASH_SOURCE[0]}")/emulation/signal_fixes.c"
    if [ ! -e "$folder/lib/i386-linux-gnu/$emulation_fixes_name" ] ||
        [ "$source" -nt "$folder/lib/i386-linux-gnu/$emulation_fixes_name" ]; then
        mkdir -p "$folder/lib/i386-linux-gnu" "$folder/lib/x86_64-linux-gnu"
        gcc -m32 -O2 -Wall -Wextra -Werror -shared -fPIC \
            -o "$folder/lib/i386-linux-gnu/$emulation_fixes_name" "$source" -ldl || return 1
        echo "" | gcc -x c -shared -fPIC -o "$folder/lib/x86_64-linux-gnu/$emulation_fixes_name" - ||
            return 1
    fi
    # ld.so puts the folder of its own architecture in for $LIB.
    export QEMU_SET_ENV="LD_PRELOAD=$folder/\$LIB/$emulation_fixes_name"
}
