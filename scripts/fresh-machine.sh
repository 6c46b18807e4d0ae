#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The README's test command (or with --run its run command) on a new, minimal
# Debian system, as a new user would run it there.
#
# usage: scripts/fresh-machine.sh [--run] [--arch ARCH] [SUITE [root|user [LOCALE]]]
#        (default: bookworm root, no locale, this machine's architecture)
#
# 1. mmdebstrap --variant=minbase makes SUITE for ARCH from the archives this
#    machine's apt uses (SUITE, -updates, -security where this machine has
#    them), its apt sources then. For MODE user it adds "orvan", who may use
#    sudo; with LOCALE (de_DE.UTF-8 writes 1,5 for 1.5) the locales package,
#    LOCALE generated and the default. That is cached (ORVAN_FRESH_CACHE,
#    default /var/cache/orvan-fresh-machine) for 7 days or until the archives
#    change; nothing the project installs is. A foreign ARCH runs emulated:
#    binfmt_misc (mounted here if need be) must have a qemu handler for it with
#    the F flag, which works in a chroot (qemu-user-static registers one), or
#    the script stops at once and says which is missing.
# 2. It gets the site's apt and dpkg settings (the files in apt.conf.d and
#    dpkg.cfg.d no package installed), and HEAD (not uncommitted changes)
#    cloned into the user's home, where scripts/test.sh $ORVAN_FRESH_TESTS
#    runs (--run: scripts/run.sh; a foreign ARCH: scripts/run.sh, then
#    scripts/test.sh $ORVAN_FRESH_TESTS, there by default "--lean default
#    package") in a fresh login's environment (HOME, PATH, TERM; for
#    the user USER, LOGNAME, SHELL; LANG=LOCALE or none; no display), no
#    standard input, proc, sys, dev, dev/pts, dev/shm mounted. Its time, the
#    packages added and the growth of /usr are printed. It has mount and PID
#    namespaces of its own: its mounts and processes end however this script
#    ends, and its folder is then removed (ORVAN_FRESH_KEEP=1 keeps it). Its
#    /etc/orvan-fresh-machine keeps scripts/test.sh from starting another.
#
# Needs root (or sudo). Output from inside is prefixed [SUITE/MODE] (foreign:
# [SUITE/ARCH/MODE]). The verdict comes from exit statuses and files, not from
# that output: test.sh must exit 0, its build/test-results.json counting no
# failure; run.sh must exit 1 (the program's status with no display), the
# program built; nothing may be left owned by root in the user's home, nor
# anything in /tmp. The last line: "fresh-machine: SUITE[/ARCH]/MODE[/LOCALE]:
# RESULTS; passed|FAILED", the exit status 0 only if passed.
set -euo pipefail
# shellcheck source=lib/common.sh
source "$(dirname "$0")/lib/common.sh"

args=("$@") run=0 arch=
while [ $# -gt 0 ]; do
    case $1 in --run) run=1 ;; --arch) arch=${2:-} && shift ;; *) break ;; esac
    shift
done
suite=${1:-bookworm} mode=${2:-root} lang=${3:-}
say() { printf 'fresh-machine: %s\n' "$*"; }
die() { printf 'fresh-machine: FAIL %s\n' "$*" >&2; exit 1; }
case $mode in root | user) ;; *) die "usage: scripts/fresh-machine.sh [--run] [--arch ARCH] [SUITE [root|user [LOCALE]]]" ;; esac
[[ $lang =~ ^([a-z]{2,3}_[A-Z]{2}\.UTF-8)?$ ]] || die "not a UTF-8 locale name such as de_DE.UTF-8: $lang"
[[ $suite =~ ^[a-z]+$ ]] || die "not a Debian suite name: $suite"
[ ! -e /etc/orvan-fresh-machine ] || { say "this is a fresh machine already; it starts no other"; exit 2; }
[ "$EUID" -eq 0 ] || { command -v sudo >/dev/null || die "needs root, and there is no sudo"
    exec sudo -- "$REPO/scripts/fresh-machine.sh" "${args[@]}"; }
command -v mmdebstrap >/dev/null || die "mmdebstrap is missing: run scripts/setup-deps.sh --tests"
host_arch=$(dpkg --print-architecture)
arch=${arch:-$host_arch} tag=$suite/$mode${lang:+/$lang}
[[ $arch =~ ^[a-z0-9]+$ ]] || die "not a Debian architecture name: $arch"
commands=("scripts/test.sh ${ORVAN_FRESH_TESTS-}") && [ "$run" = 0 ] || commands=(scripts/run.sh)
if [ "$arch" != "$host_arch" ]; then
    tag=$suite/$arch/$mode${lang:+/$lang}
    # The kernel hands a foreign program to the interpreter binfmt_misc names
    # for it; with the F flag it opened that once, so it is found in a chroot.
    q=$(case $arch in arm64) echo aarch64 ;; armhf | armel) echo arm ;; ppc64el) echo ppc64le ;; amd64) echo x86_64 ;; *) echo "$arch" ;; esac)
    handlers=/proc/sys/fs/binfmt_misc entry=/proc/sys/fs/binfmt_misc/qemu-$q
    if [ ! -e $handlers/status ]; then
        grep -qw binfmt_misc /proc/filesystems || die "this kernel has no binfmt_misc, which running $arch programs needs (a container may hide it)"
        mount -t binfmt_misc binfmt_misc $handlers 2>/dev/null || die "binfmt_misc could not be mounted on $handlers, which running $arch programs needs"
    fi
    [ "$(cat $handlers/status)" = enabled ] || die "binfmt_misc is switched off ($handlers/status)"
    [ -e "$entry" ] || die "no binfmt_misc handler for $arch ($entry): install qemu-user-static (apt-get install qemu-user-static), which registers one"
    grep -qx enabled "$entry" || die "the binfmt_misc handler for $arch is switched off: update-binfmts --enable qemu-$q"
    grep -q '^flags:.*F' "$entry" || die "the binfmt_misc handler for $arch lacks the F flag, so it cannot work in a chroot: install qemu-user-static rather than qemu-user-binfmt"
    say "$arch runs emulated: binfmt_misc hands its programs to $(awk '/^interpreter/ { print $2 }' "$entry")"
    [ "$run" = 1 ] || commands=("scripts/run.sh" "scripts/test.sh ${ORVAN_FRESH_TESTS---lean default package}")
fi

# This machine's archives for its release and its -updates and -security
# suites, turned into the same suites of SUITE.
# shellcheck source=lib/debian-archive.sh
source "$REPO/scripts/lib/debian-archive.sh"
host_suite=$(debian_codename)
sources=$(debian_archives | awk -v h="$host_suite" -v s="$suite" '
    $2 == h || index($2, h "-") == 1 { uri[$1] = uri[$1] " " s substr($2, length(h) + 1) }
    END { for (u in uri) printf "Types: deb\nURIs: %s\nSuites:%s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n\n", u, uri[u] }')
[ -n "$sources" ] || die "no Debian archive for $host_suite found in this machine's apt sources"
commit=$(git -C "$REPO" rev-parse HEAD)
[ -z "$(git -C "$REPO" status --porcelain --untracked-files=no)" ] ||
    say "note: testing commit ${commit:0:12}; uncommitted changes are not part of it"

# ---- the base system (cached) ------------------------------------------------
# The user and sudo for them, the locale: the machine before the project.
include=() hooks=() name=$suite-$arch-$mode${lang:+-$lang}
if [ "$mode" = user ]; then
    include+=(sudo)
    hooks+=(--customize-hook='chroot "$1" useradd --create-home --shell /bin/bash orvan'
        --customize-hook='echo "orvan ALL=(ALL:ALL) NOPASSWD: ALL" >"$1/etc/sudoers.d/orvan" && chmod 440 "$1/etc/sudoers.d/orvan"')
fi
[ -z "$lang" ] || include+=(locales) hooks+=(--customize-hook="echo '$lang UTF-8' >\"\$1/etc/locale.gen\" &&
    chroot \"\$1\" locale-gen && echo LANG=$lang >\"\$1/etc/default/locale\"")
cache=${ORVAN_FRESH_CACHE:-/var/cache/orvan-fresh-machine} started=$SECONDS
base=$cache/$name.tar
mkdir -p "$cache" && exec 8>"$base.lock" && flock 8
if [ -f "$base" ] && [ "$(cat "$base.sources" 2>/dev/null)" = "$sources" ] && [ -z "$(find "$base" -mtime +7)" ]; then
    say "$name base system from the cache ($base)"
else
    say "making a minimal $name with mmdebstrap"
    mmdebstrap --variant=minbase --architectures="$arch" "${include[@]/#/--include=}" "${hooks[@]}" \
        --format=tar "$suite" "$base.new" - <<<"$sources" >"$base.log" 2>&1 || { tail -n 20 "$base.log" >&2
        rm -f "$base.new"; die "mmdebstrap $name failed (is the archive reachable, and has it $arch?)"; }
    mv "$base.new" "$base" && printf '%s' "$sources" >"$base.sources"
fi
flock -u 8
say "base system ready in $((SECONDS - started)) s"

# ---- the machine ---------------------------------------------------------------
work=$(mktemp -d /var/tmp/orvan-fresh-machine.XXXXXX)
root=$work/root pid=
cleanup() {
    # Killing unshare ends the namespace's first process (--kill-child), and
    # with it every process in the namespace and its mounts.
    [ -z "$pid" ] || { kill -KILL "$pid" && wait "$pid"; sleep 1; } 2>/dev/null || true
    if [ "${ORVAN_FRESH_KEEP:-0}" = 1 ]; then say "kept the system in $root (ORVAN_FRESH_KEEP=1)"; return; fi
    rm -rf --one-file-system "$work"
}
trap cleanup EXIT && trap 'exit 130' INT && trap 'exit 143' TERM
mkdir "$root"
tar -C "$root" --numeric-owner -xpf "$base"
# The site's apt and dpkg settings: the files no package installed (those that
# packages bring belong to this machine's release; the new system has its own).
for conf in /etc/apt/apt.conf.d/* /etc/dpkg/dpkg.cfg.d/*; do
    [ ! -f "$conf" ] || dpkg-query -S "$conf" >/dev/null 2>&1 || cp -a "$conf" "$root$(dirname "$conf")/"
done
cp /etc/resolv.conf "$root/etc/resolv.conf"
echo "made by scripts/fresh-machine.sh: $suite $arch $mode $lang" >"$root/etc/orvan-fresh-machine"
if [ "$mode" = user ]; then
    home=/home/orvan
    login=(/usr/sbin/runuser -u orvan -- env -i HOME="$home" PATH=/usr/local/bin:/usr/bin:/bin TERM=xterm
        USER=orvan LOGNAME=orvan SHELL=/bin/bash)
else
    home=/root
    login=(env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin TERM=xterm)
fi
[ -z "$lang" ] || login+=(LANG="$lang")
clone=$root$home/orvan-demo-window
git clone --quiet --no-checkout --no-hardlinks "$REPO" "$clone"
git -C "$clone" checkout --quiet --detach "$commit"
[ "$mode" = root ] || chroot "$root" chown -R orvan:orvan "$home/orvan-demo-window"

# Runs as the first process of the new namespaces (arguments: ROOT HOME
# STATUS_DIR COMMAND... -- LOGIN...): mounts what a real system has and runs
# each command as LOGIN, its exit status into STATUS_DIR/N.
inner='set -eu
root=$1 home=$2 out=$3 commands=() n=0
shift 3
while [ "$1" != -- ]; do commands+=("$1") && shift; done
shift
mount -t proc proc "$root/proc" && mount -t sysfs sysfs "$root/sys" && mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts" && mount -t tmpfs -o mode=1777,nosuid,nodev shm "$root/dev/shm"
count() { chroot "$root" dpkg-query -W -f "\${db:Status-Abbrev}\n" | grep -c "^ii"; }
before=$(count) usr=$(du -sxm "$root/usr" | cut -f1)
for command in "${commands[@]}"; do
    n=$((n + 1)) status=0 t=$SECONDS
    chroot "$root" "$@" bash -c "cd $home/orvan-demo-window && $command" </dev/null || status=$?
    echo "$status" >"$out/$n"
    echo "fresh-machine: $command ran for $((SECONDS - t)) s, exit status $status"
done
echo "fresh-machine: Debian packages $before before, $(count) after; /usr $usr MiB before, $(du -sxm "$root/usr" | cut -f1) MiB after"'

say "$tag: ${commands[*]} in $home/orvan-demo-window (commit ${commit:0:12})"
mkdir "$work/status"
unshare --mount --pid --fork --kill-child --propagation private bash -c "$inner" inner \
    "$root" "$home" "$work/status" "${commands[@]}" -- "${login[@]}" </dev/null \
    > >(sed -u "s|^|[$tag] |") 2>&1 &
pid=$!
wait "$pid" || true
pid=

# The verdict, from the exit statuses and the files the commands left.
status=0 result=
for n in "${!commands[@]}"; do
    got=$(cat "$work/status/$((n + 1))" 2>/dev/null || echo none)
    if [ "${commands[n]}" = scripts/run.sh ]; then
        [ "$got" = 1 ] && [ -x "$clone/build/program/orvan-demo-window" ] || status=1
        result+="run.sh: exit status $got, the program $([ -x "$clone/build/program/orvan-demo-window" ] || echo not\ )built; "
        continue
    fi
    summary=$(python3 -c 'import json, sys; r = json.load(open(sys.argv[1]))
print("tests: %d passed, %d failed" % (r["passed"], r["failed"])); sys.exit(r["failed"] != 0)' \
        "$clone/build/test-results.json" 2>/dev/null) && [ "$got" = 0 ] || status=1
    result+="test.sh: exit status $got, ${summary:-no test results}; "
done
owned=$([ "$mode" = root ] || find "$root$home" -user root -printf '%P\n' | head -n 5)
[ -z "$owned" ] || { say "FAIL owned by root in $home: $owned"; status=1; }
leftover=$(find "$root/tmp" -mindepth 1 -maxdepth 1 ! -name '.*-unix' -printf '%f ' 2>/dev/null)
[ -z "$leftover" ] || { say "FAIL left in /tmp: $leftover"; status=1; }
say "$tag: $result$([ "$status" = 0 ] && echo passed || echo FAILED)"
exit "$status"
