#!/usr/bin/env bash
# A display that is not set, refuses, or refuses our authorization counts as none: Corvel
# prints the list once, says why on one line of standard error and exits 0. With Wayland
# refusing and X answering it runs on X, saying nothing.
#   no_display_test.sh <corvel executable>
set -u
corvel=$1
source "$(dirname "$0")/../../hosts/host_test.sh" # work, pids, until_true; ends what it started
export HOME=$work/home XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/home/.config
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY XDG_SESSION_TYPE QT_QPA_PLATFORM XAUTHORITY

# An X server that admits only holders of its cookie.
cookie=$(mcookie)
xauth -q -f "$work/cookie" add :0 . "$cookie" 2>/dev/null
Xvfb -displayfd 3 -auth "$work/cookie" -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
until_true 30 test -s "$work/display" || { echo "FAIL: Xvfb did not start"; exit 1; }
x=:$(head -1 "$work/display")
xauth -q -f "$work/client" add "$x" . "$cookie" 2>/dev/null

while read -r name settings; do
    env $settings timeout 60 "$corvel" >"$work/out" 2>"$work/err"
    status=$?
    [[ $status == 0 && $(wc -l <"$work/err") == 1 ]] && grep -q "Total CPU" "$work/out" ||
        { echo "FAIL ($name): status $status"; cat "$work/err"; exit 1; }
    echo "ok ($name): $(cat "$work/err")"
done <<CASES
unset       HOME=$HOME
refused-x   DISPLAY=:177
refused-wl  WAYLAND_DISPLAY=corvel-none
x-auth      DISPLAY=$x XAUTHORITY=$work/none
CASES

DISPLAY=$x XAUTHORITY=$work/client WAYLAND_DISPLAY=corvel-none "$corvel" >/dev/null 2>"$work/err" &
pids+=($!)
sleep 3
kill -0 "${pids[-1]}" && [[ ! -s $work/err ]] || { echo "FAIL (x-after-wl)"; cat "$work/err"; exit 1; }
echo "ok (x-after-wl): runs on X, silently"
