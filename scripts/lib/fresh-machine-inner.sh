# SPDX-License-Identifier: MIT
# The part of scripts/fresh-machine.sh that runs inside the new machine's
# namespaces (it sources this file and exports the function):
#
#   inner ROOT MODE HOME LANG COMMAND LOGIN...
#       runs COMMAND (scripts/test.sh, scripts/run.sh, or the one and then
#       the other, as a line for bash) in the clone in HOME
#       of the system in ROOT, as LOGIN (a command prefix: runuser or env -i
#       and the login's environment); prints its time, the Debian packages
#       and the size of /usr before and after; returns its exit status

# Runs as PID 1 of the new namespaces: mounts what a real system has, prepares
# sudo for the user, runs the command and measures it, and unmounts again.
inner() {
    set -eu
    local root=$1 mode=$2 home=$3 lang=$4 command=$5
    shift 5
    mount -t proc proc "$root/proc"
    mount -t sysfs sysfs "$root/sys"
    mount --bind /dev "$root/dev"
    mount --bind /dev/pts "$root/dev/pts"
    mount -t tmpfs -o mode=1777,nosuid,nodev shm "$root/dev/shm"
    # shellcheck disable=SC2064 # the paths are fixed now
    trap "umount -l '$root/dev/shm' '$root/dev/pts' '$root/dev' '$root/sys' '$root/proc'" EXIT
    local t=$SECONDS machine=()
    [ "$mode" = root ] || machine+=(sudo)
    [ -z "$lang" ] || machine+=(locales)
    if [ "${#machine[@]}" -gt 0 ]; then
        chroot "$root" apt-get -qq update </dev/null >/dev/null
        DEBIAN_FRONTEND=noninteractive chroot "$root" apt-get -qq install -y --no-install-recommends "${machine[@]}" \
            </dev/null >/dev/null
    fi
    if [ -n "$lang" ]; then
        echo "$lang UTF-8" >"$root/etc/locale.gen"
        chroot "$root" locale-gen >/dev/null
        echo "LANG=$lang" >"$root/etc/default/locale"
    fi
    [ "${#machine[@]}" -eq 0 ] || echo "fresh-machine: ${machine[*]} installed in $((SECONDS - t)) s${lang:+, $lang generated}"
    local status=0
    packages() { chroot "$root" dpkg-query -W -f '${db:Status-Abbrev}\n' | grep -c '^ii'; }
    usr() { du -sxm "$root/usr" | cut -f1; }
    set -- "$(packages)" "$(usr)" "$SECONDS" "$@"
    chroot "$root" "${@:4}" bash -c "cd $home/orvan-demo-window && $command" </dev/null || status=$?
    echo "fresh-machine: $command ran for $((SECONDS - $3)) s, exit status $status;" \
        "Debian packages $1 before, $(packages) after; /usr $2 MiB before, $(usr) MiB after"
    return "$status"
}
