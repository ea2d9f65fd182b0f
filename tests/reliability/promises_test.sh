#!/usr/bin/env bash
# promises_test.sh <corvel executable>: what `corvel --once` and the status item (offscreen, on
# a bus of its own, its panel opened once) touch, under strace -f. The only programs executed
# are corvel and /bin/ps; no file is opened for writing but /dev/null (ps's standard error); the
# only sockets are local, to the session bus or nscd's cache. Exits 77 when it cannot trace.
set -u
corvel=$1
trace=(strace -f -qq -s 4096 -e trace=execve,open,openat,creat,socket,connect -o)
if [[ ${2-} == --in-session ]]; then # the status item's run, inside dbus-run-session
    sed -E 's/.*unix:(path|abstract)=([^,]*).*/\2/' <<<"$DBUS_SESSION_BUS_ADDRESS" >"$3.bus"
    "${trace[@]}" "$3" -- "$corvel" &>/dev/null &
    sleep 3 # the first sampling cycles
    for name in $(gdbus call --session -d org.freedesktop.DBus -o / -m org.freedesktop.DBus.ListNames | grep -oE ':[0-9.]+'); do
        gdbus call --session -d "$name" -o /StatusNotifierItem -m org.kde.StatusNotifierItem.Activate 0 0 &>/dev/null && opened=1
    done
    sleep 5 # the panel open over two sampling cycles
    kill $(ps -o pid= --ppid $!) && wait $!
    [[ ${opened-} ]] || echo "no item of corvel's on the bus to open the panel with" && exit 0
fi
[[ -x $corvel ]] || { echo "no executable at $corvel"; exit 1; }
type -P strace dbus-run-session gdbus >/dev/null || { echo "skipped: strace, dbus-run-session or gdbus is missing"; exit 77; }
strace -qq -o /dev/null true 2>/dev/null || { echo "skipped: strace may not trace here"; exit 77; }
work=$(mktemp -d /tmp/corvel-promises-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home/.local/share/applications" "$work/run"
printf '[Desktop Entry]\nType=Application\nName=Notes\nExec=notes\n' >"$work/home/.local/share/applications/notes.desktop"
session=(env -i HOME="$work/home" XDG_RUNTIME_DIR="$work/run" PATH=/usr/bin:/bin LANG=C.UTF-8)

check() { # check <log> <what> [the one socket path it may connect to]
    sed -n 's/^[0-9]* *execve("\([^"]*\)".*/\1/p' "$1" | sort -u | grep -vxF -e "$corvel" -e /bin/ps -e /usr/bin/ps | sed "s/^/$2 executed /"
    grep -E '(open|openat)\(.*(O_WRONLY|O_RDWR|O_CREAT|O_TRUNC|O_APPEND)|creat\(' "$1" | grep -vF '"/dev/null"' | sed "s/^/$2 opened for writing: /"
    grep -E '\bsocket\(' "$1" | grep -v 'socket(AF_UNIX' | sed "s/^/$2 made a socket that is not local: /"
    grep -E '\bconnect\(' "$1" | grep -vF -e '"/var/run/nscd/socket"' -e "\"${3:-/no socket}\"" | sed "s/^/$2 connected to something else: /"
}
fails=$work/fails
"${session[@]}" "${trace[@]}" "$work/once.log" -- "$corvel" --once >"$work/once.out" || echo "corvel --once failed" >>"$fails"
grep -q . "$work/once.out" || echo "corvel --once printed nothing" >>"$fails"
"${session[@]}" QT_QPA_PLATFORM=offscreen dbus-run-session -- bash "$0" "$corvel" --in-session "$work/item.log" >>"$fails" 2>/dev/null
{ check "$work/once.log" "corvel --once"; check "$work/item.log" "the status item" "$(cat "$work/item.log.bus")"; } >>"$fails"
[[ -s $fails ]] && { sed 's/^/FAIL: /' "$fails"; exit 1; }
echo "every promise kept: $(grep -c . "$work/once.log") and $(grep -c . "$work/item.log") calls traced"
