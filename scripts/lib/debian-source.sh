# SPDX-License-Identifier: MIT
# Debian source packages, fetched through a private apt configuration under
# .deps/apt: the machine's apt setup and settings are used (its keyring,
# proxies, options), its own sources and lists are left untouched. Sourced by
# scripts/setup-deps.sh, whose run_logged, say and die it uses.
#
#   debian_source PACKAGE SUITE REGEX [VERSION]
#       sets SOURCE_VERSION to the newest version of source PACKAGE in SUITE
#       matching REGEX (a Debian version, optional epoch) and SOURCE_DIR to
#       .deps/src/PACKAGE-VERSION, where it is unpacked (its files checked
#       against the signed index). With VERSION (say from a stamp file) whose
#       source is unpacked already, that one is used without the network.

# shellcheck source=debian-archive.sh
source "$REPO/scripts/lib/debian-archive.sh"

APT_DIR=$REPO/.deps/apt
SRC_DIR=$REPO/.deps/src
DOWNLOAD_DIR=$REPO/.deps/downloads
# The suites sources are taken from (raylib 6.0 is only in unstable, GLFW 3.4
# in trixie and later).
SOURCE_SUITES="unstable trixie"
APT_OPTS=(
    -o "Dir::Etc::sourcelist=$APT_DIR/sources/orvan-deps.sources"
    -o Dir::Etc::sourceparts=/dev/null
    -o "Dir::State::Lists=$APT_DIR/lists"
    -o "Dir::Cache=$APT_DIR/cache"
)
SOURCE_INDEXES_READ=0

# read_source_indexes: the private configuration and its source indexes, once a run.
read_source_indexes() {
    ((SOURCE_INDEXES_READ)) && return 0
    local mirror log=$LOG_DIR/apt-update.log
    mirror=${ORVAN_DEBIAN_MIRROR:-$(debian_mirror)} ||
        die "no Debian archive found in the machine's apt sources (set ORVAN_DEBIAN_MIRROR=URI)"
    say "fetching source indexes ($SOURCE_SUITES) from $mirror"
    mkdir -p "$APT_DIR/sources" "$APT_DIR/lists/partial" "$APT_DIR/cache/archives/partial"
    # The .sources extension makes apt read this file as deb822.
    cat >"$APT_DIR/sources/orvan-deps.sources" <<EOF
Types: deb-src
URIs: $mirror
Suites: $SOURCE_SUITES
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    if ! apt-get "${APT_OPTS[@]}" --error-on=any update </dev/null >"$log" 2>&1; then
        cat "$log" >>"$LOG_DIR/apt-source.log"
        sed 's/^/  | /' "$log" >&2
        if grep -qiE 'is (no longer|not) valid|expired' "$log"; then
            # apt refuses an index past its Valid-Until date: what a replayed
            # old index looks like. A frozen snapshot mirror serves such
            # indexes on purpose; allowing them is the machine owner's choice.
            die "$mirror serves an index past its Valid-Until date (a frozen snapshot mirror?); if you trust it, allow expired indexes with: echo 'Acquire::Check-Valid-Until \"false\";' | sudo tee /etc/apt/apt.conf.d/99check-valid-until"
        fi
        die "could not read the source indexes of $SOURCE_SUITES from $mirror (is it reachable?)"
    fi
    SOURCE_INDEXES_READ=1
}

# pick_version PACKAGE SUITE REGEX: prints the newest version of source
# PACKAGE in SUITE matching REGEX, or nothing.
pick_version() {
    local package=$1 suite=$2 regex=$3 version best=""
    while read -r version; do
        [[ $version =~ $regex ]] || continue
        if [[ -z $best ]] || dpkg --compare-versions "$version" gt "$best"; then
            best=$version
        fi
    done < <(apt-cache "${APT_OPTS[@]}" madison "$package" 2>/dev/null |
        awk -F'|' -v suite="$suite" '
            $3 ~ (" " suite "/") && $3 ~ /Sources/ { gsub(/[ \t]/, "", $2); print $2 }')
    echo "$best"
}

debian_source() {
    local package=$1 suite=$2 regex=$3 known=${4:-}
    if [[ -n $known && -f $SRC_DIR/$package-${known#*:}/debian/changelog ]]; then
        SOURCE_VERSION=$known
        SOURCE_DIR=$SRC_DIR/$package-${known#*:}
        return 0
    fi
    read_source_indexes
    SOURCE_VERSION=$(pick_version "$package" "$suite" "$regex")
    [[ -n $SOURCE_VERSION ]] || die "no source package $package matching $regex offered in $suite"
    SOURCE_DIR=$SRC_DIR/$package-${SOURCE_VERSION#*:}
    say "fetching source $package $SOURCE_VERSION ($suite)"
    mkdir -p "$DOWNLOAD_DIR" "$SRC_DIR"
    run_logged apt-source env -C "$DOWNLOAD_DIR" apt-get "${APT_OPTS[@]}" source --download-only "$package=$SOURCE_VERSION"
    rm -rf "$SOURCE_DIR"
    # The .dsc name has no epoch.
    run_logged apt-source dpkg-source --no-copy -x \
        "$DOWNLOAD_DIR/${package}_${SOURCE_VERSION#*:}.dsc" "$SOURCE_DIR"
}
