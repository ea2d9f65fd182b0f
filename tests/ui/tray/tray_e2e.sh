#!/usr/bin/env bash
# End to end on a real X server: Xvfb, openbox, Corvel, then tint2 (an XEmbed tray; no D-Bus
# watcher on the bus). Corvel waits for the tray and docks into it; its icon is clicked, the
# panel checked and photographed, and Ctrl+Q must end the program with status 0.
#   tray_e2e.sh <corvel executable> <output folder>
# Exits 77 (skipped) when a tool is missing. Every process started here is ended on exit.
set -u
corvel=$1
out=$2
here=$(cd "$(dirname "$0")" && pwd)
skip=77

for tool in Xvfb openbox tint2 xdotool xwininfo xprop import dbus-daemon; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit $skip; }
done
[[ -x $corvel ]] || { echo "no executable at $corvel"; exit 1; }

mkdir -p "$out"
work=$(mktemp -d /tmp/corvel-e2e-XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    for _ in 1 2 3 4 5 6 7 8 9 10; do
        alive=0
        for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
        ((alive)) || break
        sleep 0.2
    done
    for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap "exit 1" INT TERM HUP PIPE # so that cleanup runs on those too
fail() { echo "FAIL: $*"; for log in "$work"/*.log; do sed "s|^|$(basename "$log"): |" "$log"; done; [[ -f $work/corvel.err ]] && sed 's/^/corvel stderr: /' "$work/corvel.err"; exit 1; }

source "$here/../../support/x_session.sh"
use_private_home
unset WAYLAND_DISPLAY SESSION_MANAGER
export QT_QPA_PLATFORM=xcb

start_xvfb || fail "Xvfb did not start"
# A session bus with no StatusNotifierWatcher on it, so the item has to use the tray.
start_private_bus || fail "dbus-daemon did not start"

openbox --config-file "$here/openbox-rc.xml" >"$work/openbox.log" 2>&1 &
pids+=($!)

# Corvel first: with no status area yet it must say once that it waits, then show up in the
# tray as soon as tint2 provides one.
"$corvel" >"$work/corvel.out" 2>"$work/corvel.err" &
corvel_pid=$!
pids+=($corvel_pid)
# Generous waits throughout: the machines running this are shared and often busy.
until_true 60 grep -q "waiting" "$work/corvel.err" || fail "Corvel did not say it waits"

tint2 -c "$here/tint2rc" >"$work/tint2.log" 2>&1 &
pids+=($!)
until_true 60 grep -q "systray started" "$work/tint2.log" || fail "tint2's tray did not start"

# The tray icon: Corvel's 22x22 window docked into tint2's tray at the bottom of the screen.
geometry() { xwininfo -id "$1" 2>/dev/null; }
field() { awk -F': *' -v key="$1" '$1 ~ key {print $2; exit}'; }
find_icon() {
    local w info
    for w in $(xdotool search --onlyvisible --classname corvel 2>/dev/null); do
        info=$(geometry "$w")
        if [[ $(field Width <<<"$info") == 22 && $(field Height <<<"$info") == 22 ]]; then
            icon_x=$(field "Absolute upper-left X" <<<"$info")
            icon_y=$(field "Absolute upper-left Y" <<<"$info")
            return 0
        fi
    done
    return 1
}
until_true 60 find_icon || fail "no tray icon of Corvel's appeared"
((icon_y > 700)) || fail "the icon is not in the bottom panel (y=$icon_y)"
echo "tray icon at $icon_x,$icon_y"
[[ $(grep -c "waiting" "$work/corvel.err") == 1 ]] || fail "Corvel said more than once that it waits"

find_panel() {
    local w info
    for w in $(xdotool search --onlyvisible --classname corvel 2>/dev/null); do
        info=$(geometry "$w")
        if [[ $(field Width <<<"$info") == 380 ]]; then
            panel=$w
            panel_info=$info
            return 0
        fi
    done
    return 1
}
find_panel && fail "a panel showed before any click"

xdotool mousemove --sync $((icon_x + 11)) $((icon_y + 11)) click 1
until_true 30 find_panel || fail "clicking the icon showed no 380-wide panel"
echo "panel window $panel:"
grep -E "Absolute|Width|Height|Override" <<<"$panel_info"

# No task-bar entry: an override-redirect popup, or a window that asks to skip the task bar.
override=$(field "Override Redirect State" <<<"$panel_info")
states=$(xprop -id "$panel" _NET_WM_STATE 2>/dev/null)
if [[ $override != yes && $states != *_NET_WM_STATE_SKIP_TASKBAR* ]]; then
    fail "the panel would get a task-bar entry (override redirect: $override; $states)"
fi
# Inside the screen, above the bottom panel.
px=$(field "Absolute upper-left X" <<<"$panel_info")
py=$(field "Absolute upper-left Y" <<<"$panel_info")
ph=$(field Height <<<"$panel_info")
((px >= 0 && px + 380 <= 1024 && py >= 0 && py + ph <= 768)) || fail "the panel leaves the screen"

sleep 2.5 # one sampling cycle after opening, so the rows are live
import -window root "$out/tray_e2e.png" || fail "no screenshot"
echo "screenshot: $out/tray_e2e.png"

xdotool key --clearmodifiers ctrl+q
if ! until_true 30 bash -c "! kill -0 $corvel_pid 2>/dev/null"; then
    fail "Ctrl+Q did not end Corvel"
fi
wait "$corvel_pid"
status=$?
((status == 0)) || fail "Corvel ended with status $status"
echo "Ctrl+Q ended Corvel with status 0"
