#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The README's test command (or with --run its run command) on a new, minimal
# Debian system, as a new user would run it there.
#
# usage: scripts/fresh-machine.sh [--run] [--arch ARCH] [SUITE [root|user [LOCALE]]]
#        (default: bookworm root, no locale, this machine's architecture)
#
#  1. A minimal Debian of SUITE (debootstrap --variant=minbase) for ARCH, a
#     Debian architecture name (arm64, say). The base system is kept in a cache
#     between runs on one machine (ORVAN_FRESH_CACHE, default
#     /var/cache/orvan-fresh-machine, renewed after 7 days); nothing the project
#     installs is ever cached.
#     A foreign ARCH runs emulated, and needs from this machine: binfmt_misc
#     (the kernel's handlers for foreign executables; mounted here when the
#     kernel has it) with a qemu-user handler for ARCH registered with the F
#     flag, so that it works inside the new system. Debian's qemu-user-static
#     registers one (through binfmt-support). Without either the script fails
#     at once and says which is missing.
#  2. Its apt sources name the Debian archives this machine uses, for SUITE
#     (SUITE, SUITE-updates, SUITE-security where this machine has the
#     counterpart), and it gets this machine's apt settings (the files in
#     /etc/apt/apt.conf.d that no package installed), as a new machine at the
#     same site would.
#  3. The current commit (HEAD, not uncommitted changes) is cloned into the
#     home folder of root, or of a new user "orvan" who may use sudo.
#  4. scripts/test.sh (with --run scripts/run.sh; for a foreign ARCH
#     scripts/run.sh and then scripts/test.sh $ORVAN_FRESH_TESTS, by default
#     "--lean default package": what fits an emulated machine) runs there with the
#     environment of a fresh login (HOME, PATH, TERM, and for the user USER,
#     LOGNAME and SHELL; no LANG, no display), no standard input, and proc,
#     sys, dev, dev/pts and dev/shm mounted. Its time, the Debian packages it
#     added and how much /usr grew are printed.
#     With LOCALE (say de_DE.UTF-8, which writes 1,5 for 1.5), the system
#     first gets Debian's locales package with LOCALE generated and set as
#     its default, and the login has LANG=LOCALE, as a user of that language
#     has it.
#
# The system runs in its own mount and PID namespaces: its mounts are undone
# and its processes ended whatever way this script ends (also on failure or
# interrupt), and the system's folder is then removed (kept, for a look
# inside, with ORVAN_FRESH_KEEP=1). Inside, a marker file
# (/etc/orvan-fresh-machine) keeps scripts/test.sh from starting another
# fresh machine. Needs root (or sudo) and the archive.
#
# The inner output is shown with a "[SUITE/MODE]" prefix ("[SUITE/ARCH/MODE]"
# for a foreign ARCH). The last line is
#   fresh-machine: SUITE[/ARCH] MODE [LOCALE]: <the inner summary line>
# and the exit status is 0 only if the inner run passed (with --run: the
# program was built and stopped for want of a display, as it must there; for a
# foreign ARCH both) and
# left nothing behind in the user's home owned by root, nor anything in /tmp.
set -euo pipefail
# shellcheck source=lib/common.sh
source "$(dirname "$0")/lib/common.sh"

args=("$@")
command=scripts/test.sh
arch=
while [ $# -gt 0 ]; do
    case $1 in
        --run) command=scripts/run.sh ;;
        --arch) arch=${2:-}; shift ;;
        *) break ;;
    esac
    shift
done
suite=${1:-bookworm}
mode=${2:-root}
lang=${3:-}
repo=$REPO
say() { printf 'fresh-machine: %s\n' "$*"; }
die() { printf 'fresh-machine: FAIL %s\n' "$*" >&2; exit 1; }

case $mode in root | user) ;; *) die "usage: scripts/fresh-machine.sh [--run] [--arch ARCH] [SUITE [root|user [LOCALE]]]" ;; esac
[[ $lang =~ ^([a-z]{2,3}_[A-Z]{2}\.UTF-8)?$ ]] || die "not a UTF-8 locale name such as de_DE.UTF-8: $lang"
[[ $suite =~ ^[a-z]+$ ]] || die "not a Debian suite name: $suite"
if [ -e /etc/orvan-fresh-machine ]; then
    say "this is a fresh machine already; it starts no other"
    exit 2
fi
if [ "$EUID" -ne 0 ]; then
    command -v sudo >/dev/null || die "needs root, and there is no sudo"
    exec sudo -- "$REPO/scripts/fresh-machine.sh" "${args[@]}"
fi
command -v debootstrap >/dev/null || die "debootstrap is missing: run scripts/setup-deps.sh --tests"
host_arch=$(dpkg --print-architecture)
arch=${arch:-$host_arch}
[[ $arch =~ ^[a-z0-9]+$ ]] || die "not a Debian architecture name: $arch"
machine=$suite
if [ "$arch" != "$host_arch" ]; then
    machine=$suite/$arch
    # shellcheck source=lib/foreign-arch.sh
    source "$repo/scripts/lib/foreign-arch.sh"
    why=$(foreign_arch_ready "$arch") || die "$why"
    say "$arch runs emulated: $why"
    [ "$command" = scripts/run.sh ] || command="scripts/run.sh; scripts/test.sh ${ORVAN_FRESH_TESTS---lean default package}"
fi

# shellcheck source=lib/debian-archive.sh
source "$repo/scripts/lib/debian-archive.sh"
host_suite=$(debian_codename)
mirror=$(debian_mirror) || die "no Debian archive for $host_suite found in this machine's apt sources"
# This machine's archives for its release and its -updates and -security
# suites, turned into the same suites of SUITE.
sources=$(debian_archives | awk -v h="$host_suite" -v s="$suite" '
    $2 == h || index($2, h "-") == 1 { uri[$1] = uri[$1] " " s substr($2, length(h) + 1) }
    END { for (u in uri) printf "Types: deb\nURIs: %s\nSuites:%s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n\n", u, uri[u] }')

commit=$(git -C "$repo" rev-parse HEAD)
if [ -n "$(git -C "$repo" status --porcelain --untracked-files=no)" ]; then
    say "note: testing commit ${commit:0:12}; uncommitted changes are not part of it"
fi

# ---- the base system (cached) ------------------------------------------------
cache=${ORVAN_FRESH_CACHE:-/var/cache/orvan-fresh-machine}
base=$cache/$suite-$arch-minbase.tar
mkdir -p "$cache"
exec 8>"$cache/$suite-$arch.lock"
flock 8
started=$SECONDS
if [ -f "$base" ] && [ "$(cat "$base.mirror" 2>/dev/null)" = "$mirror" ] &&
    [ -z "$(find "$base" -mtime +7)" ]; then
    say "$suite ($arch) base system from the cache ($base)"
else
    say "making a minimal $suite ($arch) from $mirror"
    staging=$(mktemp -d "$cache/$suite-$arch.XXXXXX")
    if ! debootstrap --arch="$arch" --variant=minbase "$suite" "$staging/root" "$mirror" \
        >"$cache/$suite-$arch-debootstrap.log" 2>&1; then
        tail -n 20 "$cache/$suite-$arch-debootstrap.log" >&2
        rm -rf --one-file-system "$staging"
        die "debootstrap $suite ($arch) from $mirror failed (is the archive reachable, and has it $arch?)"
    fi
    tar -C "$staging/root" --numeric-owner -cf "$base.new" .
    rm -rf --one-file-system "$staging"
    mv "$base.new" "$base"
    echo "$mirror" >"$base.mirror"
fi
flock -u 8
say "base system ready in $((SECONDS - started)) s"

# ---- the machine ---------------------------------------------------------------
work=$(mktemp -d /var/tmp/orvan-fresh-machine.XXXXXX)
root=$work/root
cleanup() {
    # Interrupted: the run's namespace, and every process in it, ends with its
    # first process.
    if pkill -KILL -f "^unshare .* inner $work/root " 2>/dev/null; then sleep 1; fi
    if [ "${ORVAN_FRESH_KEEP:-0}" = 1 ]; then
        say "kept the system in $root (ORVAN_FRESH_KEEP=1)"
        return
    fi
    # The mounts exist only in the namespace of the run, which has ended by
    # now; --one-file-system guards the host's files all the same.
    rm -rf --one-file-system "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
mkdir "$root"
tar -C "$root" --numeric-owner -xpf "$base"

printf '%s' "$sources" >"$root/etc/apt/sources.list.d/debian.sources"
rm -f "$root/etc/apt/sources.list"
# The site's settings: the files no package installed (those that packages
# bring, such as 50appstream, belong to this machine's release, and the new
# system gets its own from its packages).
for conf in /etc/apt/apt.conf.d/*; do
    [ -f "$conf" ] || continue
    dpkg-query -S "$conf" >/dev/null 2>&1 || cp -a "$conf" "$root/etc/apt/apt.conf.d/"
done
cp /etc/resolv.conf "$root/etc/resolv.conf"
echo "made by scripts/fresh-machine.sh: $suite $arch $mode $lang" >"$root/etc/orvan-fresh-machine"

if [ "$mode" = user ]; then
    home=/home/orvan
    chroot "$root" useradd --create-home --shell /bin/bash orvan
    # A user who may administer the machine; with no one to type a password.
    mkdir -p "$root/etc/sudoers.d"
    echo 'orvan ALL=(ALL:ALL) NOPASSWD: ALL' >"$root/etc/sudoers.d/orvan"
    chmod 440 "$root/etc/sudoers.d/orvan"
    login=(/usr/sbin/runuser -u orvan -- env -i HOME=$home PATH=/usr/local/bin:/usr/bin:/bin
        TERM=xterm USER=orvan LOGNAME=orvan SHELL=/bin/bash)
else
    home=/root
    login=(env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin TERM=xterm)
fi
[ -z "$lang" ] || login+=(LANG="$lang")
git clone --quiet --no-checkout --no-hardlinks "$repo" "$root$home/orvan-demo-window"
git -C "$root$home/orvan-demo-window" checkout --quiet --detach "$commit"
[ "$mode" = root ] || chroot "$root" chown -R orvan:orvan "$home/orvan-demo-window"

# shellcheck source=lib/fresh-machine-inner.sh
source "$REPO/scripts/lib/fresh-machine-inner.sh"
export -f inner

say "$machine as $mode${lang:+, LANG=$lang}: $command in $home/orvan-demo-window (commit ${commit:0:12})"
started=$SECONDS
log=$work/test.log
# In the background, so that an interrupt is handled at once (bash runs a
# trap only after the foreground command has ended); the status goes by file.
set +e
{
    unshare --mount --pid --fork --kill-child --propagation private \
        bash -c 'inner "$@"' inner "$root" "$mode" "$home" "$lang" "$command" "${login[@]}" </dev/null
    echo $? >"$work/status"
} 2>&1 | tee "$log" | sed -u "s|^|[$machine/$mode${lang:+/$lang}] |" &
wait $!
status=$(cat "$work/status" 2>/dev/null || echo 1)
set -e
say "$machine as $mode${lang:+ ($lang)}: ran for $((SECONDS - started)) s, exit status $status"

result=$(grep -E '^tests: [0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1 || true)
# There is no display there: scripts/run.sh must have built the program, which
# must have started and stopped for want of one, with its message and 1.
if [ "$command" = scripts/run.sh ]; then
    result="the program stopped for want of a display"
    if [ "$status" -ne 1 ] || ! grep -qF "a graphical display is needed" "$log"; then
        result="the program did not start (status $status)"
        status=1
    else
        status=0
    fi
elif [[ $command == scripts/run.sh\;* ]]; then
    if grep -qF "a graphical display is needed" "$log"; then
        result="the program stopped for want of a display; ${result:-no summary line}"
    else
        result="the program did not start; ${result:-no summary line}"
        status=1
    fi
fi
if [ "$mode" = user ]; then
    owned=$(find "$root$home" -user root -printf '%P\n' | head -n 5)
    if [ -n "$owned" ]; then
        say "FAIL owned by root in $home: $owned"
        status=1
    fi
fi
leftover=$(find "$root/tmp" -mindepth 1 -maxdepth 1 ! -name '.*-unix' -printf '%f ' 2>/dev/null)
if [ -n "$leftover" ]; then
    say "FAIL left in /tmp: $leftover"
    status=1
fi
say "$machine $mode${lang:+ $lang}: ${result:-no summary line (the run broke off)}"
exit "$status"
