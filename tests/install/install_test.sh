#!/usr/bin/env bash
# install_test.sh tree BUILD_DIR DEB_DIR: installs the build into a scratch prefix and checks
#   the files, validates the desktop entry, then builds the .deb into DEB_DIR and checks it.
# install_test.sh package DEB_DIR: installs that .deb with apt, runs it, removes it (root only).
# Exit 77 means skipped, and says why.
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*" >&2; exit 77; }
need() { command -v "$1" >/dev/null || skip "$1 is not installed (scripts/bootstrap installs it)"; }

sizes=(16 22 24 32 48)

# png_size FILE: prints "WIDTHxHEIGHT" from the PNG header.
png_size() {
    local -a b
    read -r -a b < <(od -An -tu1 -j16 -N8 "$1")
    [[ ${#b[@]} -eq 8 ]] || return 1
    echo "$(((b[0] << 24) | (b[1] << 16) | (b[2] << 8) | b[3]))x$(((b[4] << 24) | (b[5] << 16) | (b[6] << 8) | b[7]))"
}

# check_prefix ROOT: the program, the desktop entry and every icon size are where menus and
# icon themes look, the entry is valid and points at what was installed next to it.
check_prefix() {
    local root=$1 entry=$1/share/applications/corvel.desktop
    [[ -x $root/bin/corvel ]] || fail "$root/bin/corvel missing or not executable"
    [[ -f $entry ]] || fail "desktop entry missing: $entry"
    local report
    report=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $report"
    [[ -z $report ]] || fail "desktop-file-validate warns: $report"
    local exec icon
    exec=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
    icon=$(sed -n 's/^Icon=//p' "$entry")
    [[ -x $root/bin/$exec ]] || fail "Exec=$exec is not the installed program"
    local hicolor=$root/share/icons/hicolor
    grep -q '<svg' "$hicolor/scalable/apps/$icon.svg" 2>/dev/null ||
        fail "no scalable icon $hicolor/scalable/apps/$icon.svg"
    local size got
    for size in "${sizes[@]}"; do
        got=$(png_size "$hicolor/${size}x$size/apps/$icon.png" 2>/dev/null) ||
            fail "no ${size}px icon"
        [[ $got == "${size}x$size" ]] || fail "${size}x$size/apps/$icon.png is $got"
    done
}

tree_mode() {
    local build=$1 out=$2
    need desktop-file-validate
    need dpkg-shlibdeps
    [[ -f $build/CPackConfig.cmake ]] || fail "$build has no CPackConfig.cmake"
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT

    cmake --install "$build" --prefix "$scratch/usr" >"$scratch/install.log" ||
        fail "cmake --install: $(cat "$scratch/install.log")"
    check_prefix "$scratch/usr"
    echo "install tree ok"

    rm -rf "$out" && mkdir -p "$out"
    cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$scratch/cpack.log" 2>&1 ||
        fail "cpack: $(cat "$scratch/cpack.log")"
    local debs=("$out"/*.deb)
    [[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || fail "expected one .deb in $out: ${debs[*]}"
    local deb=${debs[0]} name version arch
    name=$(dpkg-deb -f "$deb" Package)
    version=$(dpkg-deb -f "$deb" Version)
    arch=$(dpkg-deb -f "$deb" Architecture)
    [[ $arch == "$(dpkg --print-architecture)" ]] || fail "package built for $arch"
    [[ $(basename "$deb") == "${name}_${version}_$arch.deb" ]] ||
        fail "$(basename "$deb") is not named ${name}_${version}_$arch.deb"
    [[ $name == corvel ]] || fail "package is called $name"
    [[ $(dpkg-deb -f "$deb" Section) == utils ]] || fail "section is not utils"
    [[ -n $(dpkg-deb -f "$deb" Maintainer) ]] || fail "no maintainer"
    [[ -n $(dpkg-deb -f "$deb" Description) ]] || fail "no description"
    # The package's own files, unpacked: the same checks as the install tree.
    dpkg-deb -x "$deb" "$scratch/unpacked"
    check_prefix "$scratch/unpacked/usr"

    # Every library the packaged program links directly must come from a package it depends
    # on; what those libraries need in turn is their packages' business.
    local bin=$scratch/unpacked/usr/bin/corvel depends soname lib owner
    depends=" $(dpkg-deb -f "$deb" Depends | tr ',|' '  ') "
    for soname in $(objdump -p "$bin" | awk '$1 == "NEEDED" { print $2 }'); do
        lib=$(ldd "$bin" | awk -v so="$soname" '$1 == so && $2 == "=>" { print $3 }
                                                 $1 ~ ("/" so "$") { print $1 }' | head -n1)
        [[ -n $lib ]] || fail "corvel needs $soname, which is not installed"
        owner=$(dpkg -S "$lib" 2>/dev/null || dpkg -S "$(readlink -f "$lib")" 2>/dev/null) ||
            fail "$lib, linked by corvel, belongs to no Debian package"
        owner=${owner%%:*}
        [[ $depends == *" $owner "* ]] || fail "Depends lacks $owner (for $soname):$depends"
    done
    echo "package ok: $(basename "$deb"), Depends: $(dpkg-deb -f "$deb" Depends)"
}

package_mode() {
    local out=$1
    [[ $(id -u) -eq 0 ]] || skip "installing a package needs root"
    need apt-get
    local debs=("$out"/corvel_*.deb)
    [[ -f ${debs[0]} ]] || fail "no package in $out (install_tree builds it)"
    local deb=${debs[0]}

    # One install at a time on this machine, whichever build tree it comes from.
    local lock_dir=/run/lock
    [[ -d $lock_dir ]] || lock_dir=/tmp
    exec 9>"$lock_dir/corvel-install-test.lock"
    flock -w 600 9 || fail "another install test held the lock for 10 minutes"
    local status
    status=$(dpkg-query -W -f='${Status}' corvel 2>/dev/null || true)
    [[ $status != *" installed" ]] || skip "a corvel package is installed already; leaving it alone"
    [[ ! -e /usr/bin/corvel ]] || skip "/usr/bin/corvel exists outside any package; leaving it alone"

    export DEBIAN_FRONTEND=noninteractive
    local apt=(apt-get -y -q -o DPkg::Lock::Timeout=300)
    remove() {
        "${apt[@]}" remove corvel >/dev/null 2>&1 || dpkg -r corvel >/dev/null 2>&1 || true
    }
    trap remove EXIT
    local log
    log=$("${apt[@]}" install --no-install-recommends "$deb" 2>&1) || fail "apt-get install: $log"

    local printed
    printed=$(timeout 60 /usr/bin/corvel --once 2>&1) || fail "corvel --once failed: $printed"
    [[ $printed == *"Total CPU"* ]] || fail "corvel --once printed no total: $printed"
    [[ -f /usr/share/applications/corvel.desktop ]] || fail "no desktop entry under /usr/share"

    trap - EXIT
    remove
    [[ ! -e /usr/bin/corvel ]] || fail "removing the package left /usr/bin/corvel"
    echo "installed, ran and removed $(basename "$deb")"
}

case ${1:-} in
tree) tree_mode "$2" "$3" ;;
package) package_mode "$2" ;;
*) echo "usage: $0 tree BUILD_DIR DEB_DIR | package DEB_DIR" >&2; exit 2 ;;
esac
