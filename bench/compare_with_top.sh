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
# installed, with update_ms 2000. Needs procps and the tools of the tint2 host test.
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
command -v top >/dev/null || { echo "needs top" >&2; exit 1; }
# The tint2 host's session from the host tests: Xvfb, a bus, openbox and tint2's tray.
source "$root/tests/hosts/host_test.sh" # work, pids, until_true, start_session, start_corvel
idle_pids=() group=""
cleanup() {
    ((${#idle_pids[@]})) && kill -KILL "${idle_pids[@]}" 2>/dev/null && wait "${idle_pids[@]}" 2>/dev/null
    [[ -n $group ]] && rmdir "$group"
    end_session
}
trap cleanup EXIT

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

start_session tint2 || { echo "no tint2 session" >&2; exit 1; }
cp "$work/b.png" "$work/empty.png" && start_corvel
until_true 60 find_item || { echo "no tray icon" >&2; exit 1; }

top -b -d 2 >/dev/null &
top_pid=$!
pids+=($top_pid)
btop_pid=""
if command -v btop >/dev/null && command -v script >/dev/null; then
    mkdir -p "$work/home/.config/btop"
    echo "update_ms = 2000" >"$work/home/.config/btop/btop.conf"
    mkfifo "$work/keys" # never written: btop waits for keys that never come
    HOME=$work/home XDG_CONFIG_HOME=$work/home/.config TERM=xterm-256color script -qfec "stty rows 50 cols 160; exec btop" /dev/null \
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
