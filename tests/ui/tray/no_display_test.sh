#!/usr/bin/env bash
# Without a graphical session Corvel prints the list once, says why on one line of standard
# error, and exits 0.
#   no_display_test.sh <corvel executable>
set -u
out=$(mktemp -d /tmp/corvel-nodisplay-XXXXXX)
trap 'rm -rf "$out"' EXIT
env -u DISPLAY -u WAYLAND_DISPLAY HOME="$out" timeout 60 "$1" >"$out/stdout" 2>"$out/stderr"
status=$?
fail() { echo "FAIL: $*"; sed 's/^/stderr: /' "$out/stderr"; exit 1; }
((status == 0)) || fail "exit status $status"
[[ $(wc -l <"$out/stderr") -eq 1 ]] || fail "expected one line on standard error"
grep -q "graphical session" "$out/stderr" || fail "standard error does not say why"
grep -q "Total CPU" "$out/stdout" || fail "the list was not printed"
echo "ok: $(cat "$out/stderr")"
