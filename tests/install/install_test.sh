#!/usr/bin/env bash
# install_test.sh tree BUILD_DIR DEB_DIR: checks a scratch install, then builds the .deb into DEB_DIR and
#   holds it to Debian's and AppStream's rules. install_test.sh package DEB_DIR: apt installs that .deb,
#   runs it, reads its manual page and removes it (root only). Exit 77 means skipped, and says why.
set -euo pipefail
scratch=$(mktemp -d) && trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*" >&2; exit 77; }
logged() { "$@" >"$scratch/log" 2>&1 || fail "$*: $(cat "$scratch/log")"; } # quiet unless it fails
id=org.example.corvel # the AppStream id, reverse-DNS of the homepage; the desktop entry is named after it

# check_prefix ROOT: entry, listing, manual and icons where menus, software centres, man and themes look.
check_prefix() {
    local entry=$1/share/applications/$id.desktop icons=$1/share/icons/hicolor report app size
    report=$(desktop-file-validate "$entry" 2>&1) && [[ -z $report ]] || fail "desktop-file-validate $entry: $report"
    [[ $(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry") == /*/bin/corvel && -x $1/bin/corvel ]] || fail "Exec= not installed"
    grep -qs "<launchable type=\"desktop-id\">$id.desktop<" "$1/share/metainfo/$id.metainfo.xml" ||
        fail "no metainfo launching $id.desktop"
    gzip -t "$1/share/man/man1/corvel.1.gz" || fail "no compressed manual page"
    app=apps/$(sed -n 's/^Icon=//p' "$entry") && grep -qs '<svg' "$icons/scalable/$app.svg" || fail "no scalable icon"
    for size in 16x16 22x22 24x24 32x32 48x48; do
        [[ $(identify -format %wx%h "$icons/$size/$app.png") == "$size" ]] || fail "$size/$app.png is missing or another size"
    done
}

tree_mode() {
    local build=$1 out=$2 tool
    for tool in desktop-file-validate dpkg-shlibdeps identify lintian appstreamcli; do
        command -v $tool >/dev/null || skip "no $tool (scripts/bootstrap has it)"; done
    logged cmake --install "$build" --prefix "$scratch/usr" && check_prefix "$scratch/usr"
    rm -rf "$out" && mkdir -p "$out" && logged cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out"
    local debs=("$out"/*.deb) && local deb=${debs[0]} arch=$(dpkg --print-architecture)
    [[ ${#debs[@]} -eq 1 && $deb == "$out/corvel_$(dpkg-deb -f "$deb" Version)_$arch.deb" ]] ||
        fail "expected one corvel_<version>_$arch.deb in $out: ${debs[*]}"
    dpkg-deb -x "$deb" "$scratch/unpacked" && check_prefix "$scratch/unpacked/usr"

    # Every library the program links directly comes from a package it depends on (theirs are theirs).
    local bin=$scratch/unpacked/usr/bin/corvel soname lib owner depends=" $(dpkg-deb -f "$deb" Depends | tr ',|' '  ') "
    for soname in $(objdump -p "$bin" | awk '$1 == "NEEDED" { print $2 }'); do
        lib=$(ldd "$bin" | awk -v so="$soname" '$1 == so && $2 == "=>" { print $3 }')
        owner=$(dpkg -S "$lib" 2>/dev/null || dpkg -S "$(readlink -f "$lib")" 2>/dev/null) ||
            fail "$soname ($lib), linked by corvel, belongs to no Debian package"
        [[ $depends == *" ${owner%%:*} "* ]] || fail "Depends lacks ${owner%%:*}:$depends"
    done

    # Informational tags show but pass: a dev build lacks the release hardening (CorvelPackaging.cmake).
    logged lintian --display-info --pedantic --fail-on error,warning "$deb" && cat "$scratch/log"
    # Warnings fail too: --pedantic alone lets them pass.
    appstreamcli validate --no-net --pedantic --strict "$scratch/unpacked/usr/share/metainfo/$id.metainfo.xml" ||
        fail "appstreamcli validate"
    echo "package ok: $(basename "$deb"), Depends: $(dpkg-deb -f "$deb" Depends)"
}

package_mode() {
    local deb printed && apt=(env DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=300)
    [[ $(id -u) -eq 0 ]] || skip "installing a package needs root"
    deb=$(compgen -G "$1/corvel_*.deb") || fail "no package in $1 (install_tree builds it)"
    # One install at a time on this machine, whichever build tree it comes from.
    mkdir -p /run/lock && exec 9>/run/lock/corvel-install-test.lock
    flock -w 600 9 || fail "another install test held the lock for 10 minutes"
    [[ $(dpkg-query -W -f='${Status}' corvel 2>/dev/null) != *" installed" && ! -e /usr/bin/corvel ]] ||
        skip "corvel is installed already; leaving it alone"
    trap '[[ ! -e /usr/bin/corvel ]] || "${apt[@]}" remove corvel >/dev/null 2>&1; rm -rf "$scratch"' EXIT
    logged "${apt[@]}" install --no-install-recommends "$deb"

    printed=$(timeout 60 /usr/bin/corvel --once 2>&1) || fail "corvel --once failed: $printed"
    [[ $printed == *"Total CPU"* ]] || fail "corvel --once printed no total: $printed"
    printed=$(/usr/bin/corvel --version) && [[ $printed == "corvel $(dpkg-deb -f "$deb" Version)" ]] ||
        fail "$printed, from $deb"
    # Slim images tell dpkg to leave manual pages out; then there is nothing for man to find.
    grep -qs '^path-exclude=/usr/share/man/' /etc/dpkg/dpkg.cfg.d/* && echo "dpkg leaves manual pages out here" ||
        { printed=$(MANWIDTH=80 man corvel 2>&1) && [[ $printed == *"EXIT STATUS"* ]] || fail "man corvel: $printed"; }
    logged "${apt[@]}" remove corvel && [[ ! -e /usr/bin/corvel ]] || fail "removing the package left /usr/bin/corvel"
    echo "installed, ran, read the manual of and removed $(basename "$deb")"
}

[[ ${1:-} =~ ^(tree|package)$ ]] || { echo "usage: $0 tree BUILD_DIR DEB_DIR | package DEB_DIR" >&2; exit 2; }
"$1_mode" "${@:2}"
