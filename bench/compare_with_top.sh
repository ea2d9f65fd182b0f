#!/usr/bin/env bash
# The CPU time of a Corvel process next to top's, both started at the same moment and run for
# the same time, with extra idle processes in the table.
#
#   bench/compare_with_top.sh [--seconds N] [--idle N] [command [args...]]
#
# The command defaults to the release build of corvel. A command that exits (corvel prints
# once today) is started again every 2 seconds, as a refresh would; one that keeps running is
# simply left to run. Its time is utime+stime from /proc/PID/stat of the whole process tree,
# children reaped on the way included; top's the same way. Needs procps (top, pgrep).
set -euo pipefail

seconds=60
idle=1000
while (($#)); do
    case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --idle) idle=$2; shift 2 ;;
    --) shift; break ;;
    *) break ;;
    esac
done
repo=$(cd "$(dirname "$0")/.." && pwd)
if (($# == 0)); then
    set -- "$repo/build/release/src/corvel"
fi
[[ -x "$1" ]] || command -v "$1" >/dev/null || { echo "cannot run $1" >&2; exit 2; }

scratch=$(mktemp -d)
idle_pids=()
measured=""
top_pid=""
descendants() {
    local pid
    for pid in $(pgrep -P "$1" || true); do
        echo "$pid"
        descendants "$pid"
    done
}
cleanup() {
    local pid
    exec 2>/dev/null # no job-killed notices
    for pid in $measured $top_pid; do
        # shellcheck disable=SC2046
        kill -KILL "$pid" $(descendants "$pid") 2>/dev/null || true
    done
    ((${#idle_pids[@]})) && kill -KILL "${idle_pids[@]}" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT

# utime+stime+cutime+cstime of one process, in clock ticks; the name may hold ") ".
ticks_of() {
    local stat
    stat=$(<"/proc/$1/stat") 2>/dev/null || { echo 0; return; }
    stat=${stat##*) }
    # shellcheck disable=SC2086
    set -- $stat
    echo $((${12} + ${13} + ${14} + ${15}))
}
tree_ticks() {
    local total pid
    total=$(ticks_of "$1")
    for pid in $(pgrep -P "$1" || true); do
        total=$((total + $(tree_ticks "$pid")))
    done
    echo "$total"
}

for ((i = 0; i < idle; i++)); do
    sleep infinity &
    idle_pids+=($!)
done
echo "$(ls /proc | grep -c '^[0-9]') processes; measuring for $seconds s: $*"

# The loop waits on a FIFO nobody writes, so it forks nothing of its own between runs.
mkfifo "$scratch/never"
bash -c 'exec 9<>"$1"; shift; while :; do "$@" >/dev/null 2>&1 || true; read -r -t 2 -u 9 || true; done' \
    corvel-loop "$scratch/never" "$@" &
measured=$!
top -b -d 2 >/dev/null &
top_pid=$!

sleep "$seconds"
hz=$(getconf CLK_TCK)
ours=$(tree_ticks "$measured")
theirs=$(tree_ticks "$top_pid")
awk -v a="$ours" -v b="$theirs" -v hz="$hz" -v s="$seconds" 'BEGIN {
    printf "command:      %7.2f s CPU (%5.2f%% of one processor)\n", a / hz, 100 * a / hz / s
    printf "top -b -d 2:  %7.2f s CPU (%5.2f%% of one processor)\n", b / hz, 100 * b / hz / s
    if (b > 0) printf "command / top: %.2f\n", a / b
}'
