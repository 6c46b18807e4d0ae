# SPDX-License-Identifier: MIT
# The Debian archives this machine's apt is configured with. Sourced by
# scripts/setup-deps.sh and scripts/fresh-machine.sh; no archive's address is
# written anywhere in the repository.
#
#   debian_codename          the release this machine runs (bookworm, trixie, ...)
#   debian_archives          "URI SUITE" for every enabled source of binary
#                            packages with component main, one a line
#   debian_mirror            the URI serving this machine's release, else the
#                            first serving any release (not -updates or
#                            -security), or status 1

debian_codename() {
    # shellcheck disable=SC1091 # a system file
    (. /etc/os-release && echo "${VERSION_CODENAME:-}")
}

debian_archives() {
    local file
    {
        # Index targets are known once the machine's own apt-get update has run.
        # shellcheck disable=SC2016 # $(...) are apt format fields, not expansions
        apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Created-By: Packages' 2>/dev/null |
            awk '$3 == "main" { print $1, $2 }'

        # deb822 sources.
        for file in /etc/apt/sources.list.d/*.sources; do
            [[ -r $file ]] || continue
            awk '
                function reset() { types = uris = suites = comps = ""; enabled = "yes" }
                function flush(   u, s, nu, ns, i, j) {
                    if (uris != "" && tolower(enabled) != "no" && (" " types " ") ~ / deb / &&
                        (" " comps " ") ~ / main /) {
                        nu = split(uris, u, " "); ns = split(suites, s, " ")
                        for (i = 1; i <= nu; i++) for (j = 1; j <= ns; j++) print u[i], s[j]
                    }
                    reset()
                }
                BEGIN { reset() }
                /^[ \t]*#/ { next }
                /^[ \t]*$/ { flush(); next }
                {
                    key = tolower($1); $1 = ""; sub(/^[ \t]+/, "")
                    if (key == "types:") types = $0
                    else if (key == "uris:") uris = $0
                    else if (key == "suites:") suites = $0
                    else if (key == "components:") comps = $0
                    else if (key == "enabled:") enabled = $0
                }
                END { flush() }
            ' "$file"
        done

        # One-line sources: "deb [options] URI SUITE COMPONENT...".
        for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
            [[ -r $file ]] || continue
            awk '
                /^[ \t]*#/ { next }
                {
                    sub(/\[[^]]*\]/, "")
                    if ($1 == "deb") for (i = 4; i <= NF; i++) if ($i == "main") { print $2, $3; break }
                }
            ' "$file"
        done
    } | awk '{ sub(/\/+$/, "", $1); line = $1 "/ " $2 } !seen[line]++ { print line }'
}

debian_mirror() {
    debian_archives | awk -v release="$(debian_codename)" '
        $2 == release { mine = $1; exit }
        $2 !~ /-/ && any == "" { any = $1 }
        END { if (mine == "" && any == "") exit 1; print(mine != "" ? mine : any) }'
}
