#!/usr/bin/env bash
# Measures the running program in a real X session (Xvfb, openbox, tint2's XEmbed tray, a
# private session bus): resident memory after start and after opening the panel once, and
# CPU time over a period with the panel closed and then open.
#   bench/measure_running.sh [corvel executable] [seconds per period]
# Defaults: build/release/src/corvel, 300 seconds. Needs the tools of the tint2 host test.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
corvel=${1:-$root/build/release/src/corvel}
period=${2:-300}
for tool in Xvfb openbox tint2 xdotool xwininfo dbus-daemon; do
    command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 1; }
done

source "$root/tests/hosts/host_test.sh" # the host tests' session: folders, bus, Xvfb, openbox, tint2
start_session tint2 || { echo "no X session with a tray" >&2; exit 1; }
export DISPLAY=$display
start_corvel
pid=$corvel_pid

rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$pid/status"; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; } # utime + stime
hz=$(getconf CLK_TCK)
window_sized() {
    local w
    for w in $(xdotool search --onlyvisible --classname corvel 2>/dev/null); do
        [[ $(xwininfo -id "$w" | awk -F': *' '$1 ~ /Width/ {print $2}') == "$1" ]] && {
            found=$w
            return 0
        }
    done
    return 1
}
measure_cpu() {
    local before after
    before=$(cpu_ticks)
    sleep "$period"
    after=$(cpu_ticks)
    awk -v t=$((after - before)) -v hz="$hz" -v s="$period" \
        'BEGIN { printf "%.2f s of CPU in %d s = %.3f%% of one core", t / hz, s, 100 * t / hz / s }'
}

until_true 60 window_sized 22 || { echo "no tray icon" >&2; exit 1; }
icon=$found
sleep 10
echo "processes on this machine: $(find /proc -maxdepth 1 -name "[0-9]*" 2>/dev/null | wc -l), cores: $(nproc)"
echo "resident after start:               $(rss_kb) KB"

eval "$(xdotool getwindowgeometry --shell "$icon")"
xdotool mousemove --sync $((X + 11)) $((Y + 11)) click 1
until_true 30 window_sized 380 || { echo "no panel" >&2; exit 1; }
sleep 10
echo "resident with the panel open:       $(rss_kb) KB"
xdotool key Escape
sleep 5
echo "resident after closing the panel:   $(rss_kb) KB"

echo "panel closed: $(measure_cpu)"
xdotool mousemove --sync $((X + 11)) $((Y + 11)) click 1
until_true 30 window_sized 380 || { echo "no panel the second time" >&2; exit 1; }
echo "panel open:   $(measure_cpu)"
echo "resident at the end:                $(rss_kb) KB"
