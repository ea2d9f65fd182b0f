#!/usr/bin/env bash
# What the program may touch, watched with strace -f over whole runs: `corvel --once`, and the
# status item on a real X server (Xvfb, openbox, tint2's tray) with its panel opened once.
#   - it starts no shell: the only programs executed are corvel itself and /bin/ps;
#   - it opens no file for writing (only /dev/null, which the ps child's standard error gets);
#   - its only sockets are local ones to the X display and the D-Bus session bus.
# The graphical run uses the tint2 host test's session.
#   promises_test.sh <corvel executable>
# Exits 77 (skipped) when strace cannot trace here; the graphical run is skipped on its own
# when a tool it needs is missing. Every process started here is ended on exit.
set -u
corvel=$1
skip=77
[[ -x $corvel ]] || { echo "no executable at $corvel"; exit 1; }
command -v strace >/dev/null || { echo "skipped: strace is not installed"; exit $skip; }
strace -qq -o /dev/null true 2>/dev/null || { echo "skipped: strace may not trace here"; exit $skip; }

source "$(dirname "$0")/../hosts/host_test.sh" # work, pids, until_true and the tint2 host's session
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
applications=$work/home/.local/share/applications
mkdir -p "$applications"
printf '[Desktop Entry]\nType=Application\nName=Notes\nExec=notes\n' >"$applications/notes.desktop"

strace_to() { # strace_to <log>: the command prefix that traces into <log>
    trace=(strace -f -qq -s 4096 -e trace=execve,open,openat,creat,socket,connect -o "$1" --)
}

# Every program executed, attempted or not (a search along PATH shows as failed attempts).
check_execs() { # check_execs <log> <what>
    local path
    while read -r path; do
        case $path in
            "$corvel" | /bin/ps | /usr/bin/ps) ;;
            *) fail "$2 executed $path" ;;
        esac
    done < <(sed -n 's/^[0-9]* *execve("\([^"]*\)".*/\1/p' "$1" | sort -u)
}

# Files opened for writing, attempted or not.
check_writes() { # check_writes <log> <what>
    local line path
    while read -r line; do
        path=$(sed -n 's/.*open[a-z]*([^"]*"\([^"]*\)".*/\1/p; s/.*creat("\([^"]*\)".*/\1/p' <<<"$line" | head -1)
        [[ $path == /dev/null ]] && continue
        fail "$2 opened for writing: $line"
    done < <(grep -E '(open|openat)\(.*(O_WRONLY|O_RDWR|O_CREAT|O_TRUNC|O_APPEND)|creat\(' "$1")
}

# Sockets: only AF_UNIX, and connected only to the allowed paths (abstract or not).
check_sockets() { # check_sockets <log> <what> <allowed path>...
    local log=$1 what=$2; shift 2
    local line path allowed ok
    while read -r line; do
        fail "$what made a socket that is not local: $line"
    done < <(grep -E '\bsocket\(' "$log" | grep -v 'socket(AF_UNIX')
    while read -r line; do
        path=$(sed -n 's/.*sun_path=@\{0,1\}"\([^"]*\)".*/\1/p' <<<"$line")
        ok=0
        for allowed in "$@"; do [[ $path == "$allowed" ]] && ok=1; done
        ((ok)) || fail "$what connected to something else: $line"
    done < <(grep -E '\bconnect\(' "$log")
}

echo "== corvel --once, without a display or a bus"
strace_to "$work/once.log"
in_session "${trace[@]}" "$corvel" --once >"$work/once.out" 2>"$work/once.err" || fail "corvel --once failed: $(cat "$work/once.err")"
grep -q . "$work/once.out" || fail "corvel --once printed nothing"
echo "$(grep -c execve "$work/once.log") execve, $(grep -cE 'open(at)?\(' "$work/once.log") opens, $(grep -c 'socket(' "$work/once.log") sockets traced"
check_execs "$work/once.log" "corvel --once"
check_writes "$work/once.log" "corvel --once"
check_sockets "$work/once.log" "corvel --once" # no socket may be connected at all

graphical_run() {
    local tool
    for tool in Xvfb dbus-daemon openbox tint2 xdotool import convert; do
        command -v "$tool" >/dev/null || { echo "skipped the graphical run: $tool is not installed"; return 0; }
    done
    echo "== corvel's status item in tint2's tray, with its panel opened"
    start_session tint2 || { fail "the X session did not start"; return; }
    cp "$work/b.png" "$work/empty.png"
    local bus_path=$(sed -n 's/.*unix:path=\([^,]*\).*/\1/p' <<<"${senv[*]}")
    strace_to "$work/gui.log"
    start_corvel
    if until_true 60 find_item; then
        act click "${mid[@]}"
        sleep 5 # the panel open over two sampling cycles
        act key ctrl+q
    else
        fail "no item of corvel's appeared: $(cat "$work/corvel.err")"
    fi
    until_true 30 eval '! kill -0 $corvel_pid 2>/dev/null' || kill "$corvel_pid"
    echo "$(grep -c execve "$work/gui.log") execve, $(grep -cE 'open(at)?\(' "$work/gui.log") opens, $(grep -c 'socket(' "$work/gui.log") sockets traced"
    sed -n 's/.*connect(.*sun_path=\(@\{0,1\}"[^"]*"\).*= \(.*\)/connected to \1: \2/p' "$work/gui.log" | sort | uniq -c
    check_execs "$work/gui.log" "the status item"
    check_writes "$work/gui.log" "the status item"
    check_sockets "$work/gui.log" "the status item" "/tmp/.X11-unix/X${display#:}" "$bus_path"
}
graphical_run

((failures == 0)) || { echo "$failures broken promises"; exit 1; }
echo "every promise kept"
