# SPDX-License-Identifier: MIT
# Whether this machine can run a Debian system of another architecture, by
# emulation. Sourced by scripts/fresh-machine.sh.
#
#   foreign_arch_ready ARCH
#       prints how ARCH's programs will run (the binfmt_misc handler) and
#       returns 0; or prints what is missing and returns 1
#
# The kernel hands a foreign executable to the interpreter that binfmt_misc
# names for its ELF header. The handler needs the F flag: the kernel then
# opens the interpreter once, when it is registered, so that it is found
# inside a chroot too, where the host's /usr/libexec is not.

# qemu_name ARCH: qemu's name for a Debian architecture.
qemu_name() {
    case $1 in
        amd64) echo x86_64 ;;
        arm64) echo aarch64 ;;
        armhf | armel) echo arm ;;
        i386) echo i386 ;;
        ppc64el) echo ppc64le ;;
        *) echo "$1" ;;
    esac
}

foreign_arch_ready() {
    local arch=$1 q handlers=/proc/sys/fs/binfmt_misc entry
    q=$(qemu_name "$arch")
    entry=$handlers/qemu-$q
    if [ ! -e "$handlers/status" ]; then
        if ! grep -qw binfmt_misc /proc/filesystems; then
            echo "this kernel has no binfmt_misc, which running $arch programs needs (a container may hide it)"
            return 1
        fi
        if ! mount -t binfmt_misc binfmt_misc "$handlers" 2>/dev/null; then
            echo "binfmt_misc could not be mounted on $handlers, which running $arch programs needs"
            return 1
        fi
    fi
    if [ "$(cat "$handlers/status")" != enabled ]; then
        echo "binfmt_misc is switched off ($handlers/status)"
        return 1
    fi
    if [ ! -e "$entry" ] && [ -e "/usr/share/binfmts/qemu-$q" ] && command -v update-binfmts >/dev/null; then
        update-binfmts --enable "qemu-$q" >/dev/null 2>&1 || true
    fi
    if [ ! -e "$entry" ]; then
        echo "no binfmt_misc handler for $arch ($entry): install qemu-user-static (apt-get install qemu-user-static), which registers one"
        return 1
    fi
    if ! grep -qx enabled "$entry"; then
        echo "the binfmt_misc handler for $arch is switched off: update-binfmts --enable qemu-$q"
        return 1
    fi
    if ! grep -q '^flags:.*F' "$entry"; then
        echo "the binfmt_misc handler for $arch lacks the F flag, so it cannot work in a chroot: install qemu-user-static rather than qemu-user-binfmt"
        return 1
    fi
    echo "binfmt_misc hands its programs to $(awk '/^interpreter/ { print $2 }' "$entry")"
}
