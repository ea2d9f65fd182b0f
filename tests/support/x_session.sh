# Helpers for scripts that run Corvel in a private X session; source this file. The caller
# keeps `work` (its scratch folder) and `pids` (the processes it ends on exit).

# Polls `$@` every 0.1 s for up to $1 seconds.
until_true() {
    local timeout=$1; shift
    local tries=$((timeout * 10))
    while ((tries-- > 0)); do "$@" && return 0; sleep 0.1; done
    return 1
}

# Our own home, configuration, data and runtime folders: nothing from the machine's desktop.
use_private_home() {
    export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
    export XDG_DATA_HOME=$work/home/.local/share XDG_CACHE_HOME=$work/home/.cache
    export XDG_RUNTIME_DIR=$work/run
    mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
}

# An X server on whichever display is free; sets DISPLAY. Fails when it does not start.
start_xvfb() {
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    until_true 30 test -s "$work/display" || return 1
    export DISPLAY=:$(head -1 "$work/display")
}

# A session bus of our own that can start no service on demand; sets DBUS_SESSION_BUS_ADDRESS.
# Fails when it does not start.
start_private_bus() {
    cat >"$work/bus.conf" <<CONF
<busconfig><type>session</type><listen>unix:dir=$work</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*"/><allow own="*"/></policy></busconfig>
CONF
    dbus-daemon --config-file="$work/bus.conf" --print-address=1 --nofork >"$work/bus.address" 2>/dev/null &
    pids+=($!)
    until_true 30 test -s "$work/bus.address" || return 1
    export DBUS_SESSION_BUS_ADDRESS=$(head -1 "$work/bus.address")
}
