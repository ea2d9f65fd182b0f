#!/usr/bin/env bash
# install_test.sh tree BUILD_DIR DEB_DIR: checks a scratch install, then builds the .deb into
#   DEB_DIR and holds it to Debian's and AppStream's rules.
# install_test.sh package DEB_DIR: apt installs that .deb, runs it, reads its manual page and
#   removes it (root only). Exit 77 means skipped, and says why.
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*" >&2; exit 77; }
need() { for t; do command -v "$t" >/dev/null || skip "no $t (scripts/bootstrap has it)"; done; }

# check_prefix ROOT: the desktop entry, listing, manual page and every icon size are where
# menus, software centres, man and icon themes look, and the entry starts the installed program.
check_prefix() {
    local root=$1 entry=$1/share/applications/corvel.desktop report icon size
    report=$(desktop-file-validate "$entry" 2>&1) && [[ -z $report ]] ||
        fail "desktop-file-validate $entry: $report"
    [[ -x $root/bin/$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry") ]] || fail "Exec= not installed"
    icon=$(sed -n 's/^Icon=//p' "$entry")
    grep -qs '<launchable type="desktop-id">corvel.desktop<' \
        "$root/share/metainfo/corvel.metainfo.xml" || fail "no metainfo launching corvel.desktop"
    gzip -t "$root/share/man/man1/corvel.1.gz" || fail "no compressed manual page"
    grep -q '<svg' "$root/share/icons/hicolor/scalable/apps/$icon.svg" || fail "no scalable icon"
    for size in 16 22 24 32 48; do
        [[ $(identify -format %wx%h "$root/share/icons/hicolor/${size}x$size/apps/$icon.png") == \
            "${size}x$size" ]] || fail "${size}x$size/apps/$icon.png is missing or another size"
    done
}

tree_mode() {
    local build=$1 out=$2
    need desktop-file-validate dpkg-shlibdeps identify lintian appstreamcli
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    cmake --install "$build" --prefix "$scratch/usr" >"$scratch/log" ||
        fail "cmake --install: $(cat "$scratch/log")"
    check_prefix "$scratch/usr"

    rm -rf "$out" && mkdir -p "$out"
    cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$scratch/log" 2>&1 ||
        fail "cpack: $(cat "$scratch/log")"
    local debs=("$out"/*.deb) deb arch
    deb=${debs[0]} arch=$(dpkg --print-architecture)
    [[ ${#debs[@]} -eq 1 && $deb == "$out/corvel_$(dpkg-deb -f "$deb" Version)_$arch.deb" ]] ||
        fail "expected one corvel_<version>_$arch.deb in $out: ${debs[*]}"
    dpkg-deb -x "$deb" "$scratch/unpacked"
    check_prefix "$scratch/unpacked/usr"

    # Every library the packaged program links directly must come from a package it depends
    # on; what those libraries need in turn is their packages' business.
    local bin=$scratch/unpacked/usr/bin/corvel depends soname lib owner
    depends=" $(dpkg-deb -f "$deb" Depends | tr ',|' '  ') "
    for soname in $(objdump -p "$bin" | awk '$1 == "NEEDED" { print $2 }'); do
        lib=$(ldd "$bin" | awk -v so="$soname" '$1 == so && $2 == "=>" { print $3 }')
        owner=$(dpkg -S "$lib" 2>/dev/null || dpkg -S "$(readlink -f "$lib")" 2>/dev/null) ||
            fail "$soname ($lib), linked by corvel, belongs to no Debian package"
        [[ $depends == *" ${owner%%:*} "* ]] || fail "Depends lacks ${owner%%:*}:$depends"
    done

    # Informational tags are shown but pass: a dev build lacks the release preset's hardening
    # (hardening-no-fortify-functions, hardening-no-bindnow); cmake/CorvelPackaging.cmake has more.
    lintian --display-info --pedantic --fail-on error,warning "$deb" >"$scratch/log" 2>&1 ||
        fail "lintian: $(cat "$scratch/log")"
    cat "$scratch/log"
    # The id stays the desktop entry's name, "corvel": a reverse-domain id would have to be
    # renamed again once the project has a domain of its own.
    appstreamcli validate --no-net --pedantic --override=cid-desktopapp-is-not-rdns=info \
        "$scratch/unpacked/usr/share/metainfo/corvel.metainfo.xml" || fail "appstreamcli validate"
    echo "package ok: $(basename "$deb"), Depends: $(dpkg-deb -f "$deb" Depends)"
}

package_mode() {
    local deb
    [[ $(id -u) -eq 0 ]] || skip "installing a package needs root"
    deb=$(compgen -G "$1/corvel_*.deb") || fail "no package in $1 (install_tree builds it)"
    # One install at a time on this machine, whichever build tree it comes from.
    mkdir -p /run/lock && exec 9>/run/lock/corvel-install-test.lock
    flock -w 600 9 || fail "another install test held the lock for 10 minutes"
    [[ $(dpkg-query -W -f='${Status}' corvel 2>/dev/null) != *" installed" ]] &&
        [[ ! -e /usr/bin/corvel ]] || skip "corvel is installed already; leaving it alone"

    export DEBIAN_FRONTEND=noninteractive
    local apt=(apt-get -y -q -o DPkg::Lock::Timeout=300) log printed
    remove() { "${apt[@]}" remove corvel >/dev/null 2>&1 || true; }
    trap remove EXIT
    log=$("${apt[@]}" install --no-install-recommends "$deb" 2>&1) || fail "apt-get install: $log"

    printed=$(timeout 60 /usr/bin/corvel --once 2>&1) || fail "corvel --once failed: $printed"
    [[ $printed == *"Total CPU"* ]] || fail "corvel --once printed no total: $printed"
    printed=$(/usr/bin/corvel --version)
    [[ $printed == "corvel $(dpkg-deb -f "$deb" Version)" ]] || fail "$printed, from $deb"
    # Slim images tell dpkg to leave manual pages out; then there is nothing for man to find.
    if grep -qs '^path-exclude=/usr/share/man/' /etc/dpkg/dpkg.cfg.d/*; then
        echo "dpkg leaves manual pages out on this machine: man corvel not tried"
    else
        printed=$(MANWIDTH=80 man corvel 2>&1) || fail "man corvel: $printed"
        [[ $printed == *"EXIT STATUS"* ]] || fail "man corvel shows another page: $printed"
    fi

    trap - EXIT
    remove
    [[ ! -e /usr/bin/corvel ]] || fail "removing the package left /usr/bin/corvel"
    echo "installed, ran, read the manual of and removed $(basename "$deb")"
}

case ${1:-} in
tree) tree_mode "$2" "$3" ;;
package) package_mode "$2" ;;
*) echo "usage: $0 tree BUILD_DIR DEB_DIR | package DEB_DIR" >&2; exit 2 ;;
esac
