#!/usr/bin/env bash
# A display that is not set, refuses, or refuses our authorization counts as none: Corvel prints the
# list once, says why on one line of standard error and exits 0. With Wayland refusing and X answering
# it runs on X, saying nothing (still running when stopped at 3 s).   no_display_test.sh <corvel>
set -u && corvel=$1
source "$(dirname "$0")/../../hosts/host_test.sh" # work, serve; ends what it started
export HOME=$work/home XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/home/.config
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY XDG_SESSION_TYPE QT_QPA_PLATFORM XAUTHORITY

# An X server that admits only holders of its cookie (and stays up between clients: no reset).
cookie=$(mcookie) && xauth -q -f "$work/cookie" add :0 . "$cookie" 2>/dev/null
serve xvfb DISPLAY=: Xvfb -displayfd 3 -auth "$work/cookie" -nolisten tcp -noreset || { echo "FAIL: Xvfb did not start"; exit 1; }
x=:$(head -1 "$work/xvfb.at") && xauth -q -f "$work/client" add "$x" . "$cookie" 2>/dev/null

while read -r name seconds status lines settings; do
    env $settings timeout "$seconds" "$corvel" >"$work/out" 2>"$work/err"; got=$?
    [[ $got == "$status" && $(wc -l <"$work/err") == "$lines" ]] && { ((status)) || grep -q "Total CPU" "$work/out"; } ||
        { echo "FAIL ($name): status $got"; cat "$work/err"; exit 1; }
    echo "ok ($name): $(cat "$work/err")"
done <<CASES
unset      60   0 1 HOME=$HOME
refused-x  60   0 1 DISPLAY=:177
refused-wl 60   0 1 WAYLAND_DISPLAY=corvel-none
x-auth     60   0 1 DISPLAY=$x XAUTHORITY=$work/none
x-after-wl  3 124 0 DISPLAY=$x XAUTHORITY=$work/client WAYLAND_DISPLAY=corvel-none
CASES
