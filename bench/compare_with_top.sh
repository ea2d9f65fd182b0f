#!/usr/bin/env bash
# The running status item next to top and btop: all started at the same moment in a private X
# session (Xvfb, openbox, tint2's tray), each refreshing every 2 seconds, with extra idle
# processes in the table, their CPU time compared over the same period.
#
#   bench/compare_with_top.sh [--seconds N] [--idle N] [--own-cgroup] [corvel executable]
#
# Defaults: 60 s, 1000 idle processes, build/release/src/corvel. --own-cgroup puts the idle
# processes in a cgroup of their own (root, cgroup2). CPU is utime+stime from
# /proc/PID/stat of each program's own process. btop runs in a pseudo-terminal (script) when
# installed, with update_ms 2000. Needs procps and the tools of the end-to-end test.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=60 idle=1000 own_cgroup=""
while (($#)); do
    case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --idle) idle=$2; shift 2 ;;
    --own-cgroup) own_cgroup=1; shift ;;
    *) break ;;
    esac
done
corvel=${1:-$root/build/release/src/corvel}
hosts=$root/tests/hosts
for tool in Xvfb openbox tint2 xdotool xwininfo dbus-daemon top; do
    command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 1; }
done

work=$(mktemp -d /tmp/corvel-compare-XXXXXX)
pids=() idle_pids=() group=""
cleanup() {
    exec 2>/dev/null
    for pid in "${pids[@]}"; do kill "$pid"; done
    ((${#idle_pids[@]})) && kill -KILL "${idle_pids[@]}"
    sleep 0.5
    for pid in "${pids[@]}"; do kill -9 "$pid"; done
    wait
    [[ -n $group ]] && rmdir "$group"
    rm -rf "$work"
}
trap cleanup EXIT
trap "exit 1" INT TERM HUP PIPE
until_true() { # until_true <seconds> <command...>
    local end=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < end)) || return 1
        sleep 0.2
    done
}
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_RUNTIME_DIR=$work/run
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY

for ((i = 0; i < idle; i++)); do
    sleep infinity &
    idle_pids+=($!)
done
if [[ -n $own_cgroup ]]; then
    mount=$(awk '$9 == "cgroup2" { print $5; exit }' /proc/self/mountinfo)
    group=$mount/corvel-compare-$$
    mkdir "$group" || { echo "cannot make a cgroup in $mount" >&2; exit 1; }
    for pid in "${idle_pids[@]}"; do echo "$pid" >"$group/cgroup.procs"; done
fi

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
until_true 30 test -s "$work/display" || { echo "no X server" >&2; exit 1; }
export DISPLAY=:$(head -1 "$work/display")
dbus-daemon --session --nofork --print-address=3 3>"$work/bus" >/dev/null 2>&1 &
pids+=($!)
until_true 20 test -s "$work/bus" || { echo "no bus" >&2; exit 1; }
DBUS_SESSION_BUS_ADDRESS=$(head -1 "$work/bus")
export DBUS_SESSION_BUS_ADDRESS
openbox --config-file "$hosts/config/openbox/rc.xml" >/dev/null 2>&1 &
pids+=($!)
tint2 -c "$hosts/config/tint2/tint2rc" >"$work/tint2.log" 2>&1 &
pids+=($!)
until_true 60 grep -q "systray started" "$work/tint2.log" || { echo "no tray" >&2; exit 1; }
"$corvel" >/dev/null 2>"$work/corvel.err" &
corvel_pid=$!
pids+=($corvel_pid)
until_true 60 sh -c 'xdotool search --onlyvisible --classname corvel >/dev/null' || {
    echo "no tray icon" >&2
    exit 1
}

top -b -d 2 >/dev/null &
top_pid=$!
pids+=($top_pid)
btop_pid=""
if command -v btop >/dev/null && command -v script >/dev/null; then
    mkdir -p "$XDG_CONFIG_HOME/btop"
    echo "update_ms = 2000" >"$XDG_CONFIG_HOME/btop/btop.conf"
    mkfifo "$work/keys" # never written: btop waits for keys that never come
    TERM=xterm-256color script -qfec "stty rows 50 cols 160; exec btop" /dev/null \
        <"$work/keys" >/dev/null 2>&1 &
    pids+=($!)
    exec 8>"$work/keys"
    until_true 10 pgrep -x btop >/dev/null && btop_pid=$(pgrep -nx btop)
fi
sleep 5 # all past their start

ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }
# Clock ticks are coarse at rest (0.1% of a core over 60 s is 6 of them): Corvel's own figure
# also comes from its threads' run time in nanoseconds (its threads live as long as it does).
nanos() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ t += $1 } END { print t + 0 }'; }
declare -A before
for pid in $corvel_pid $top_pid $btop_pid; do before[$pid]=$(ticks "$pid"); done
corvel_nanos=$(nanos "$corvel_pid")
echo "$(find /proc -maxdepth 1 -name '[0-9]*' | wc -l) processes (${idle} idle extra${own_cgroup:+, in a cgroup of their own}); measuring for $seconds s"
sleep "$seconds"
hz=$(getconf CLK_TCK)
share() { awk -v t=$(($(ticks "$1") - before[$1])) -v hz="$hz" -v s="$seconds" 'BEGIN { printf "%.3f", 100 * t / hz / s }'; }
corvel_share=$(share "$corvel_pid")
top_share=$(share "$top_pid")
corvel_precise=$(awk -v n=$(($(nanos "$corvel_pid") - corvel_nanos)) -v s="$seconds" 'BEGIN { printf "%.3f", 100 * n / 1e9 / s }')
printf "corvel (status item): %7s%% of one core (%s%% by its threads' run time)\n" "$corvel_share" "$corvel_precise"
printf "top -b -d 2:          %7s%%   corvel/top  %s\n" "$top_share" \
    "$(awk -v a="$corvel_share" -v b="$top_share" 'BEGIN { if (b > 0) printf "%.2f", a / b }')"
if [[ -n $btop_pid ]]; then
    btop_share=$(share "$btop_pid")
    printf "btop (2000 ms):       %7s%%   corvel/btop %s\n" "$btop_share" \
        "$(awk -v a="$corvel_share" -v b="$btop_share" 'BEGIN { if (b > 0) printf "%.2f", a / b }')"
fi
printf "corvel resident: %s KB\n" "$(awk '/^VmRSS:/ { print $2 }' "/proc/$corvel_pid/status")"
