#!/usr/bin/env bash
# Corvel on a real status-area host, started headless: the same checks on every host, only how a
# host is started, clicked and read differs. Every step leaves a picture in the output folder.
#   host_test.sh <host> <corvel> <seat_input> <output folder>: exits 77 when the host is not installed
#   (1 where CORVEL_REQUIRE has "hosts")
# Sourced, it only defines the session helpers (start_session <host>); what they start ends on exit.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
W=1280 H=800
work=$(mktemp -d /tmp/corvel-host-XXXXXX) && chmod 755 "$work"
pids=() trace=() item=() panel=() mid=() as=() # as: how session processes run, where not as root

# Each host: its kind of session, its bar's height (unless the host tells it) and edge, the gesture
# that opens the panel, the mouse button that opens the item's menu (- none), the desktop's name
# (- none) and the programs it needs: the host, its window manager on X, then the rest.
hosts="
xfce                 x     29 top    click  3 XFCE  xfce4-panel xfwm4 Xvfb xdotool import
lxqt                 x     32 bottom click  3 LXQt  lxqt-panel openbox Xvfb xdotool import
tint2                x     30 bottom click  - -     tint2 openbox Xvfb xdotool import
sway_swaybar         sway  23 top    click  - sway  swaybar sway grim setpriv
sway_waybar          sway  26 top    click  3 sway  waybar sway grim setpriv
sway_waybar_xwayland sway  26 top    click  3 sway  waybar sway grim setpriv Xwayland
sway_swaybar_scaled  sway  20 top    click  - sway  swaybar sway grim setpriv
gnome                gnome 32 top    double 1 GNOME gnome-shell Xvfb xdotool import /usr/bin/python3
gnome_xwayland       gnome 32 top    double 1 GNOME gnome-shell Xvfb xdotool import /usr/bin/python3
cinnamon             x     40 bottom click  3 X-Cinnamon cinnamon /usr/libexec/xapps/sn-watcher/xapp-sn-watcher Xvfb xdotool import
budgie               x     32 top    click  - Budgie:GNOME budgie-panel budgie-wm Xvfb xdotool import
mate                 x     25 top    click  3 MATE  mate-panel openbox Xvfb xdotool import
kde_x11              x     44 bottom click  3 KDE   plasmashell kwin_x11 Xvfb xdotool import kded5
kde                  kde   44 bottom click  3 KDE   plasmashell kwin_wayland kded5 /usr/bin/python3 convert
kde_top              kde   44 top    click  3 KDE   plasmashell kwin_wayland kded5 /usr/bin/python3 convert"

# *_scaled sway hosts scale the output by 2 (CORVEL_HOST_SCALE, as 1.5, on any host): checks see pictures
# and click at scale 1, reduced by a box filter (no edge bleeds into the next pixel); people also get
# each at the output's own pixels ("-sharp"). X sessions get a
# screen that much larger and its DPI in the X resources (GDK_SCALE for GTK panels, whole scales only).
# Ends our processes and whatever they started (activated services, Xwayland), nothing else.
descendants() { local p; for p in $(ps -o pid= --ppid "$1" 2>/dev/null); do descendants "$p"; echo "$p"; done; }
end_session() {
    local all=() pid
    for pid in "${pids[@]}"; do all+=($(descendants "$pid") "$pid"); done
    ((${#all[@]})) && { kill "${all[@]}"; until_true 3 eval '! ps -p "${all[*]}" >/dev/null'; kill -9 "${all[@]}"; } 2>/dev/null
    wait 2>/dev/null; [[ -n ${out:-} ]] && cp "$work"/*.log "$work"/corvel.err "$out/" 2>/dev/null; rm -rf "$work"
}
trap end_session EXIT && trap "exit 1" INT TERM HUP PIPE
# until_true <seconds> <command...>: polls every 0.2 s
until_true() { local end=$((SECONDS + $1)) && shift && until "$@"; do ((SECONDS < end)) || return 1; sleep 0.2; done; }

# The session's environment: our own folders and buses, nothing from the developer's desktop.
senv=(HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
      XDG_CACHE_HOME="$work/home/.cache" XDG_RUNTIME_DIR="$work/run" PATH="/usr/bin:/bin" LANG=C.UTF-8
      GSETTINGS_BACKEND=keyfile)
in_session() { "${as[@]}" env -i "${senv[@]}" "$@"; }
# spawn <log name> <command...>: a session process in the background, kept in pids
spawn() { (exec "${as[@]}" env -i "${senv[@]}" "${@:2}") >>"$work/$1.log" 2>&1 & pids+=($!); }
# serve <name> <variable=prefix> <command...>: a server that says on fd 3 where it listens
serve() { spawn "$1" "${@:3}" 3>"$work/$1.at" && until_true 30 test -s "$work/$1.at" && senv+=("$2$(head -1 "$work/$1.at")"); }
start_xvfb() { serve xvfb DISPLAY=: Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp +extension GLX "${@:2}" &&
    display=:$(head -1 "$work/xvfb.at"); }
watcher_up() { in_session gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher -m \
    org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher IsStatusNotifierHostRegistered 2>/dev/null | grep -q true; }

# start_session <host>: folders, buses, display server and the host, ready for a status item. The
# hosts read their settings from the session's XDG_CONFIG_HOME, a copy of config/.
start_session() {
    read -r host kind bar bar_edge open_click menu_button desktop program wm _ <<<"$(grep "^$1 " <<<"$hosts")"
    [[ $host == "$1" ]] || { echo "unknown host $1"; return 2; }
    client_env=() && [[ $desktop != - ]] && client_env=(XDG_CURRENT_DESKTOP=$desktop)
    [[ $kind != x ]] && client_env+=(XDG_SESSION_TYPE=wayland)
    mkdir -p "$work/home/.local/share" "$work/run" && chmod 700 "$work/run" && cp -r "$here/config" "$work/home/.config"
    # As MATE's settings daemon does by default: GTK buttons, the applet's items, show their image beside their label
    [[ $host == mate ]] && mkdir -p "$work/home/.config/gtk-3.0" && printf '[Settings]\ngtk-button-images=true\n' >"$work/home/.config/gtk-3.0/settings.ini"
    scale=${CORVEL_HOST_SCALE:-1} && [[ $host == *_scaled ]] && scale=${CORVEL_HOST_SCALE:-2}
    local pw=$(px $W) ph=$(px $H) && camera=(import -window root -crop ${pw}x$ph+0+0 +repage png:-) && [[ $kind == sway ]] && camera=(grim -s 1 -) &&
        as=(setpriv --reuid=65534 --regid=65534 --clear-groups) && chown -R 65534:65534 "$work"
    [[ $kind == kde ]] && camera=(/usr/bin/python3 "$here/kwin.py" shot)
    [[ $host == cinnamon ]] && camera=(sh -c 'gdbus call --session -d org.gnome.Shell.Screenshot -m \
        org.gnome.Shell.Screenshot.Screenshot -o /org/gnome/Shell/Screenshot false false "$0" >/dev/null &&
        cat "$0"' "$work/screen.png") # a grab of the root window misses what its compositor draws
    native=(grim -) && [[ $kind == kde ]] && native=(/usr/bin/python3 "$here/kwin.py" shot native)
    [[ $scale != 1 && $kind != kde ]] && { [[ $kind == sway ]] || native=("${camera[@]}"); } &&
        camera=(sh -c '"$@" | convert png:- -filter box -resize '"${W}x$H"'! png:-' sh "${native[@]}")
    serve bus DBUS_SESSION_BUS_ADDRESS= dbus-daemon --session --nofork --print-address=3 || return 1
    case $kind in
        x) # as in a desktop session (Cinnamon's watcher runs only there); applets that the bus
            # starts (MATE's) need the display too
            [[ $desktop != - ]] && senv+=(XDG_CURRENT_DESKTOP=$desktop)
            [[ $host == budgie ]] && senv+=(XDG_SESSION_TYPE=x11) # or its window manager refuses to start
            start_xvfb ${pw}x${ph}x24 $([[ $scale == 1 ]] || echo -noreset) || return 1 # kept resources
            [[ $scale != 1 ]] && { echo "Xft.dpi: $(px 96)" | in_session xrdb -merge || return 1
                senv+=(QT_ENABLE_HIGHDPI_SCALING=1) && [[ $scale != *.* ]] && senv+=(GDK_SCALE=$scale GDK_DPI_SCALE=0.5) &&
                printf '\n[org/cinnamon/desktop/interface]\nscaling-factor=uint32 %s\n' "$scale" \
                    >>"$work/home/.config/glib-2.0/settings/keyfile"; } # Cinnamon's own
            in_session dbus-update-activation-environment DISPLAY && spawn wm "$wm" || return 1
            if [[ $program == plasmashell ]]; then start_plasma || return 1; else spawn host "$program"; fi ;;
        sway)
            local conf=$work/home/.config/sway/$program.conf
            [[ $scale != 1 ]] && sed -i "s/^output .*/output HEADLESS-1 resolution $(awk -v s="$scale" -v w=$W -v h=$H \
                'BEGIN { printf "%dx%d", w * s, h * s }') position 0,0 scale $scale/" "$conf"
            spawn host env -C "$work" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman sway -c "$conf"
            mkfifo "$work/keys" && exec 7<>"$work/keys" && until_true 30 grep -qs '^SWAYSOCK=' "$work/env.txt" || return 1
            senv+=($(grep -E '^(WAYLAND_DISPLAY|SWAYSOCK|DISPLAY)=' "$work/env.txt"))
            spawn seat sh -c 'exec "$0" <&7' "$seat_input" && until_true 10 grep -qs ready "$work/seat.log" || return 1 ;;
        gnome)
            start_xvfb $(px 1400)x$(px 900)x24 && serve sysbus DBUS_SYSTEM_BUS_ADDRESS= dbus-daemon --nofork --print-address=3 \
                --config-file=/usr/share/dbus-1/session.conf || return 1
            spawn host env MUTTER_DEBUG_DUMMY_MODE_SPECS=${pw}x$ph $([[ $scale == 1 ]] ||
                echo MUTTER_DEBUG_DUMMY_MONITOR_SCALES=$scale) gnome-shell --nested --wayland --wayland-display=wayland-corvel
            senv+=(WAYLAND_DISPLAY=wayland-corvel) ;;
        kde) start_plasma || return 1 ;;
    esac
    local ready=watcher_up && [[ $host == tint2 ]] && ready="grep -q 'systray started' $work/host.log"
    [[ $host == budgie ]] && ready=true # its tray takes XEmbed icons only
    [[ $kind == x && $host != cinnamon ]] && # bar shown (Cinnamon's is drawn by its compositor)
        ready+=" && in_session xdotool search --onlyvisible --classname $program >/dev/null"
    until_true 60 eval "$ready" || return 1
    # GNOME Shell starts in the overview (its bar another colour): left before the first picture. The
    # display of its Xwayland is in its log.
    [[ $kind == gnome ]] && sleep 3 && act key Escape && until_true 20 eval '! in_session gdbus call --session \
        -d org.gnome.Shell -o /org/gnome/Shell -m org.freedesktop.DBus.Properties.Get org.gnome.Shell OverviewActive |
        grep -q true' && client_env+=(XAUTHORITY="$(ls "$work"/run/.mutter-X* | head -1)"
        DISPLAY=$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$work/host.log" | tail -1))
    [[ $kind == gnome && $scale != 1 ]] && echo "Xft.dpi: $(px 96)" | in_session env "${client_env[@]}" xrdb -merge
    [[ $host == *_xwayland ]] && client_env+=(QT_QPA_PLATFORM=xcb)
    until_true 30 eval 'measure_bar && picture_still'
}
# The bar's height at scale 1 where the host tells what it keeps free: the work area on X, the
# workspace on sway (both leave out every bar, so the edge's reservation is the bar's). Fails until
# such a host reserves room for its bar.
measure_bar() {
    local free=() whole=$H per=1
    case $kind in
        x) free=($(in_session xprop -root _NET_WORKAREA | grep -oE '[0-9]+' | head -4)) whole=$(px $H) per=$scale ;;
        sway) free=($(in_session swaymsg -r -t get_workspaces | awk '/"rect"/ { on = 1; next }
            on && /}/ { exit } on { gsub(/[^0-9]/, "", $2); printf "%s ", $2 }')) ;;
        *) return 0 ;;
    esac
    ((${#free[@]} == 4)) || return 1
    local reserved=$((whole - free[1] - free[3])) && [[ $bar_edge == top ]] && reserved=${free[1]}
    ((reserved > 0)) && bar=$(awk -v r="$reserved" -v s="$per" 'BEGIN { printf "%d", r / s }')
}
# Plasma, on X or on KWin's virtual output with Xwayland: KWin runs a program once Xwayland is up,
# which tells its display; the activity manager that plasmashell starts over D-Bus needs it too.
# kded holds the status-area watcher, loaded by hand: it autoloads only in a full session, and late.
start_plasma() {
    senv+=(KDE_FULL_SESSION=true KDE_SESSION_VERSION=5 LIBGL_ALWAYS_SOFTWARE=1)
    if [[ $kind == kde ]]; then
        # The package gives kwin_wayland a file capability that a container cannot grant: exec fails.
        kwin_wayland --version >/dev/null 2>&1 || /usr/sbin/setcap -r /usr/bin/kwin_wayland
        senv+=(XDG_CURRENT_DESKTOP=KDE XDG_SESSION_TYPE=wayland KWIN_SCREENSHOT_NO_PERMISSION_CHECKS=1
            KWIN_WAYLAND_NO_PERMISSION_CHECKS=1 KWIN_COMPOSE=O2 WAYLAND_DISPLAY=wayland-corvel)
        printf '#!/bin/sh\nenv >%s/env.txt\n' "$work" >"$work/started" && chmod +x "$work/started"
        spawn compositor kwin_wayland --virtual --xwayland --socket wayland-corvel --width $W --height $H \
            $([[ $scale == 1 ]] || echo --scale $scale) --no-lockscreen --no-global-shortcuts "$work/started"
        until_true 60 grep -qs '^DISPLAY=' "$work/env.txt" && senv+=($(grep '^DISPLAY=' "$work/env.txt")) || return 1
    fi
    in_session dbus-update-activation-environment --all && spawn kded kded5 || return 1
    local kded=(in_session gdbus call --session -d org.kde.kded5 -o /kded -m org.kde.kded5.loadModule)
    until_true 30 eval '"${kded[@]}" statusnotifierwatcher 2>/dev/null | grep -q true' && spawn host plasmashell --no-respawn
    [[ $kind == kde ]] && { mkfifo "$work/keys" && exec 7<>"$work/keys" && spawn seat sh -c 'exec "$0" <&7' \
        "$seat_input" && until_true 10 grep -qs ready "$work/seat.log" || return 1; }
    # A panel as users keep it: task manager, then the status area at the far end (no clock: the
    # item is found by what changed in the bar).
    local widgets='"kickoff", "icontasks", "panelspacer", "systemtray"'
    local script="panels()[0].remove(); var p = new Panel; p.location = '$bar_edge'; p.height = $bar;
        [$widgets].forEach(function (w) { p.addWidget('org.kde.plasma.' + w); });"
    until_true 60 eval 'watcher_up && in_session gdbus call --session -d org.kde.plasmashell -o /PlasmaShell -m \
        org.kde.PlasmaShell.evaluateScript "$script" >/dev/null 2>&1' 
}

# Pictures, input and window lists, per kind of host; snap <name> keeps the latest picture for people.
shot() { in_session "${camera[@]}" >"$1"; } # shot <file>
snap() { steps=$((steps + 1)) && picture=$out/$(printf %02d $steps)-$1.png && cp "$work/now.png" "$picture" &&
    { [[ $scale == 1 ]] || { sharp=${picture%.png}-sharp.png && in_session "${native[@]}" >"$sharp"; }; }; }
px() { awk -v v="$1" -v s="${scale:-1}" 'BEGIN { printf "%d", v * s }'; } # scale-1 pixels to the screen's
picture_still() { shot "$work/a.png" && sleep 1 && shot "$work/b.png" &&
    [[ $(compare -metric AE "$work"/{a,b}.png null: 2>&1) == 0 ]]; }
act() { # act point|click|double <x> <y> [button] | act key <name>
    [[ $1 == key || -n ${3:-} ]] || { echo "nowhere to click"; return 1; }
    local n=0 button=button${4:-1} && case $1 in click) n=1 ;; double) n=2 ;; esac
    case $kind:$1 in
        sway:key | kde:key) echo "$2" >&7 ;;
        kde:*) echo "$2 $3 $n ${4:-1}" >&7 ;;
        sway:*)
            local cursor=(in_session swaymsg -q seat seat0 cursor) && "${cursor[@]}" set "$2" "$3"
            for ((; n > 0; n--)); do "${cursor[@]}" press $button && "${cursor[@]}" release $button; done ;;
        *:key) in_session xdotool key --clearmodifiers "$2" ;;
        *) in_session xdotool mousemove $(px "$2") $(px "$3") $( ((n)) && echo sleep 0.2 click --repeat $n --delay 120 "${4:-1}") ;;
    esac
}
listed() { # prints the windows of Corvel's that the host lists (task bar, window list, top bar)
    case $kind in
        x)
            local w && for w in $(in_session xprop -root _NET_CLIENT_LIST | grep -oE '0x[0-9a-f]+'); do
                in_session xprop -id "$w" _NET_WM_PID _NET_WM_STATE WM_CLASS | tr '\n' ' ' | grep -v SKIP_TASKBAR |
                    grep -E "= $corvel_pid |\"corvel\"" && echo; done ;;
        sway) in_session swaymsg -t get_tree | grep -E "\"pid\": $corvel_pid,|\"(app_id|class)\": \"corvel\"" ;;
        gnome) in_session /usr/bin/python3 "$here/shell_windows.py" | grep -i corvel ;;
        kde) in_session /usr/bin/python3 "$here/kwin.py" windows "$work/compositor.log" | grep -iE "^$corvel_pid |corvel" ;;
    esac
}

# What changed between two pictures: "x0 y0 x1 y1 area" per region, largest first; an optional
# rectangle (the item, which redraws itself) is left out.
changes() { # changes <before> <after> [x0 y0 x1 y1]
    local blank=() && (($# > 2)) && blank=(-fill black -draw "rectangle $3,$4,$5,$6")
    convert "$1" "$2" -compose difference -composite -colorspace gray -threshold 6% "${blank[@]}" \
        -define connected-components:verbose=true -define connected-components:area-threshold=30 \
        -connected-components 8 null: 2>/dev/null |
        awk '/\(255/ { split($2, g, /[x+]/); print g[3], g[4], g[3] + g[1], g[4] + g[2], $4 }' | sort -k5 -nr
}
bar_top() { [[ $bar_edge == top ]] && echo 0 || echo $((H - bar)); }
# The item: what appeared in the bar's right quarter (no clock there) since the host's first picture.
find_item() {
    shot "$work/now.png" || return 1
    item=($(changes "$work/empty.png" "$work/now.png" | awk -v x=$((W * 3 / 4)) -v y0=$(bar_top) -v y1=$(($(bar_top) + bar)) '
        $1 >= x && $2 >= y0 && $4 <= y1 { a = n++ ? (a < $1 ? a : $1) : $1; b = n > 1 ? (b < $2 ? b : $2) : $2
            c = c > $3 ? c : $3; d = d > $4 ? d : $4 } END { if (n) print a, b, c, d }'))
    ((${#item[@]} == 4)) && mid=($(((item[0] + item[2]) / 2)) $(((item[1] + item[3]) / 2)))
}
# The panel (or a menu): the largest region that changed since the closed picture, beside the item's button.
find_region() { # find_region <min width> <min height>: sets region=(x0 y0 x1 y1)
    ((${#item[@]} == 4)) && shot "$work/now.png" || return 1
    region=($(changes "$work/closed.png" "$work/now.png" $((item[0] - 6)) $(bar_top) $((item[2] + 6)) $(($(bar_top) + bar)) |
        awk -v w="$1" -v h="$2" '$3 - $1 >= w && $4 - $2 >= h { print $1, $2, $3, $4; exit }'))
    ((${#region[@]} == 4))
}
find_panel() { find_region 300 150 && panel=("${region[@]}"); }
panel_closed() { ! find_panel && [[ -s $work/now.png ]]; }
open_panel() { # the host's gesture on the item, then the panel where it settles
    act "$open_click" "${mid[@]}" && until_true 10 find_panel && sleep 0.5 && find_panel ||
        { snap no-panel; echo "no panel after the gesture on the item"; false; }
}
close_by() { # close_by <what> <act arguments...>
    find_panel || open_panel || return 1
    act "${@:2}" && until_true 10 panel_closed && snap "$1" && echo "closed" && return
    snap "$1" && echo "still open at ${panel[*]}" && false
}
start_corvel() { (exec "${as[@]}" env -i "${senv[@]}" "${client_env[@]}" "${trace[@]}" "$corvel") >>"$work/corvel.out" \
    2>>"$work/corvel.err" & corvel_pid=$! && pids+=($!) && started=$EPOCHREALTIME; }
corvel_ends() { # corvel_ends <act arguments...>: the action must end Corvel with status 0
    act "$@" && until_true 10 eval '! kill -0 $corvel_pid 2>/dev/null' || { echo "still running,"; kill "$corvel_pid"; }
    wait "$corvel_pid"; local status=$? && echo "exit status $status" && ((status == 0)); }

# The checks, the same on every host.
away() { act point 150 $((H / 2)) && sleep 0.5; } # no hover, tooltip or drawn pointer at the bar
check_item() { # how soon is reported, not asserted: a busy machine is slow, a missing item is broken
    away && start_corvel
    until_true 20 find_item || { snap no-item; echo "no item within 20 s"; return 1; }
    snap item && echo "at ${item[*]} after $(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }') s"
    sleep 3 && find_item || { snap item-gone; echo "gone 3 s after it appeared"; return 1; }
}
check_open() { away && shot "$work/closed.png" && open_panel && snap open && echo "panel at ${panel[*]}"; }
check_anchored() { # at most 4 px from the bar, across the item's middle, on the screen
    ((${#panel[@]} == 4)) || { echo "no panel"; return 1; }
    local p=("${panel[@]}") gap=$((panel[1] - bar)) && [[ $bar_edge == bottom ]] && gap=$((H - bar - panel[3]))
    echo "panel ${p[*]}, item ${item[*]}, $gap px from the bar"
    ((gap >= 0 && gap <= 4 && p[0] <= mid[0] && mid[0] <= p[2] && p[0] >= 0 && p[2] <= W))
}
# Scaled, the panel at the output's pixels has detail half as many lose; an enlarged scale-1 picture has none.
check_sharp() {
    local crop=$(awk -v s="$scale" -v a="${panel[*]}" 'BEGIN { split(a, p, " ")
        printf "%dx%d+%d+%d", (p[3] - p[1]) * s, (p[4] - p[2]) * s, p[1] * s, p[2] * s }') error
    error=$(convert "$sharp" -crop "$crop" +repage \( +clone -filter box -resize 50% -filter point -resize 200% \) \
        -metric RMSE -compare -format '%[distortion]' info:)
    echo "at scale $scale, detail lost at half the pixels: $error" && awk -v e="$error" 'BEGIN { exit !(e > 0.01) }'
}
check_unlisted() { # neither in the host's lists nor, on X, a panel-wide window in a window manager's frame
    local entries=$(listed) frames= w x=(in_session env "${client_env[@]}")
    [[ $kind == x || $host == *_xwayland ]] && for w in $("${x[@]}" xdotool search --onlyvisible --classname corvel); do
        "${x[@]}" xwininfo -children -stats -id "$w" | awk '/Parent window id:/ && !/\(the root/ { framed = 1 }
            /Width: [1-9][0-9][0-9]$/ { wide = 1 } END { exit !(framed && wide) }' && frames+=" $w"
    done 2>/dev/null
    [[ -z $entries && -z $frames ]] && echo "not listed, not framed" && return
    echo "listed: ${entries:-none}; framed by the window manager:${frames:- none}" && false
}
# The panel's lines of text as "top height", top to bottom (header, rows and unfolded lines, footer):
# runs of pixel rows whose mean across the names' half of the panel departs from its background
# (the other half is where a host's tooltip for the item may lie).
text_lines() {
    local w=$(((panel[2] - panel[0]) / 2)) h=$((panel[3] - panel[1]))
    convert "$work/now.png" -crop ${w}x$h+$((panel[0] + 10))+${panel[1]} +repage -colorspace gray -scale 1x$h! \
        -depth 8 gray:- | od -An -v -tu1 -w1 | awk 'NR == 1 { bg = $1 } { y = NR - 1; ink = $1 - bg > 3 || bg - $1 > 3
            if (ink && !run) top = y; if (!ink && run && y - top >= 4) print top, y - top; run = ink }'
}
# A point in the first row's text (the first line under the column labels, 24 px high at most) or,
# "last", the last row's (above the total), the pointer away: drawn on some hosts, it joins lines.
first_row() { away && find_panel && local y=$(text_lines | awk -v last="${1:-}" '$1 >= 24 { y[n++] = $1 }
    END { if (n > 2 || !last) print y[last ? n - 2 : 0] + 4 }') && echo $((panel[0] + 60)) $((panel[1] + ${y:?})); }
# A click on the first row unfolds it, lines appearing under it; a second click folds it. Rows of
# other sessions' programs may come or go meanwhile: a line either way.
check_unfold() {
    find_panel || open_panel || return 1
    local row=($(first_row)) lines=$(text_lines | wc -l) counts=() step
    for step in unfolded folded; do
        act click "${row[@]}" && sleep 1 && find_panel && snap "$step" && counts+=($(text_lines | wc -l)); done
    echo "lines of text: $lines, unfolded ${counts[0]:-none}, folded ${counts[1]:-none}"
    ((counts[0] > lines + 1 && counts[1] <= lines + 1))
}
# An application of the session's own to act on: an entry for a copy of sleep, idle and small (its row
# the last), its file name the session's own (programs are also known by name, across sessions).
start_app() {
    local entries=$work/home/.local/share/applications app=$work/test-app-${work##*-} && mkdir -p "$entries" &&
        cp /bin/sleep "$app" && printf '[Desktop Entry]\nType=Application\nName=Test App\nExec=%s infinity\n' "$app" \
            >"$entries/test-app.desktop" && spawn app "$app" infinity && app_pid=$! && disown $app_pid
}
# A right-click on its row opens its actions over the list. Force Quit (second) asks first: Escape closes
# the question alone. Asked again (by keys, which stay on the row as other sessions' rows come and go),
# its second button kills it; the outcome shows a while, then goes.
overlaid() { find_panel && changes "$work/rows.png" "$work/now.png" | awk -v x="${panel[0]}" -v y="${panel[1]}" \
    -v b="${panel[3]}" '$1 >= x && $2 >= y && $4 <= b && $3 - $1 >= 150 && $4 - $2 >= 30 { print; exit }' | grep .; }
actions() { local row=($(first_row last)) && cp "$work/now.png" "$work/rows.png" && act click "${row[@]}" 3 &&
    until_true 5 overlaid >/dev/null || { snap no-actions; echo "no actions"; false; }; }
keyed() { away && find_panel && cp "$work/now.png" "$work/rows.png" && act key End && act key Menu &&
    until_true 5 overlaid >/dev/null || { snap no-actions; echo "no actions by keys"; false; }; }
second() { act key Down && act key Return && sleep 1 && overlaid >/dev/null; } # the focus starts on the first
check_actions() {
    { find_panel || open_panel; } && actions && snap actions && echo "actions at $(overlaid)," && second && snap question &&
        act key Escape && until_true 5 eval '! overlaid >/dev/null' && find_panel && kill -0 $app_pid &&
        echo "Escape closed the question alone," && keyed && second && kill -0 $app_pid && second && snap outcome &&
        until_true 5 eval '! kill -0 $app_pid 2>/dev/null' && echo "confirmed: ended," &&
        until_true 10 eval '! overlaid >/dev/null' && find_panel && snap outcome-gone && echo "the outcome went, the panel open"
}
check_escape() { close_by escape key Escape; }
check_outside() { close_by outside click 150 $((H / 2)); }
check_second_click() { close_by second-click "$open_click" "${mid[@]}"; }
# The desktop turns dark in GSettings' keyfile store (every session here has one): the panel opens dark.
check_dark() {
    local keyfile=$work/home/.config/glib-2.0/settings/keyfile light=
    printf "\n[org/gnome/desktop/interface]\ncolor-scheme='prefer-dark'\n" >>"$keyfile" && away && sleep 1 &&
        shot "$work/closed.png" && open_panel && snap dark && light=$(convert "$work/now.png" -crop \
        $((panel[2] - panel[0]))x$((panel[3] - panel[1]))+${panel[0]}+${panel[1]} -format '%[fx:int(mean * 100)]' info:)
    act click $(first_row) && sleep 1 && find_panel && snap dark-unfolded
    act key Escape && until_true 10 panel_closed; sed -i "s/'prefer-dark'/'default'/" "$keyfile" && sleep 1
    echo "panel ${light:-not}% light" && ((${light:-100} < 40))
}
check_menu() {
    act click "${mid[@]}" "$menu_button" && until_true 10 find_region 40 15 || { snap no-menu; echo "no menu"; return 1; }
    # The one entry is the menu's edge nearest the bar; a tooltip may widen the region away from it.
    local m=("${region[@]}") y=$((region[1] + 16)) && snap menu && [[ $bar_edge == bottom ]] && y=$((m[3] - 16))
    act click $((m[0] + 20)) $y && until_true 10 find_panel ||
        { snap menu-no-panel; echo "menu at ${m[*]}: the entry opened no panel"; act key Escape; return 1; }
    snap menu-open && echo "menu at ${m[*]} opened the panel"
    act "$open_click" "${mid[@]}" && until_true 10 panel_closed || true # closing is checked elsewhere
}
check_ctrl_q() { open_panel && corvel_ends key ctrl+q; }
# A second start, then its Quit button (bottom right of the panel).
check_quit() { check_item && check_open && corvel_ends click $((panel[2] - 50)) $((panel[3] - 22)); }
check_stderr() { ! head -5 "$work/corvel.err" | grep . && echo "empty"; }
check_host_log() {
    tail -n +$((log_mark + 1)) "$work/host.log" | grep -iE 'corvel|notifier|dbusmenu|indicator|xembed|tray' |
        grep -iE 'error|warn|critical|fail|invalid' | sort -u | head -5 | grep . && return 1 || echo "nothing about the item"
}

# Checks that fail today for reasons outside the harness (host:check), reported until they pass: at quit the
# sway bars may read properties of an item object already gone; tint2 logs X errors as the docked icon goes.
known_failures=" sway_swaybar:host_log sway_swaybar_scaled:host_log sway_waybar:host_log sway_waybar_xwayland:host_log tint2:host_log "
run_check() { # run_check <name>: one check, reported against the known failures
    local began=$SECONDS verdict=pass known=$([[ $known_failures == *" $host:$1 "* ]] && echo known) && picture=
    if "check_$1" >"$work/detail" 2>&1; then verdict=pass${known:+" (drop it from the known failures)"}
    else verdict=${known:-FAIL} && [[ -z $known ]] && failures=$((failures + 1)); fi
    printf '%-20s %-12s %-6s %3d s  %s%s\n' "$host" "$1" "$verdict" $((SECONDS - began)) \
        "$(tr '\n' ' ' <"$work/detail")" "${picture:+ $picture}" | tee -a "$out/results.txt"
}

main() {
    host=$1 corvel=$2 seat_input=$3 out=$4/$1 steps=0 failures=0
    local began=$SECONDS tool row=($(grep "^$1 " <<<"$hosts"))
    for tool in dbus-daemon gdbus convert compare "${row[@]:7}"; do
        command -v "$tool" >/dev/null || { echo "skipped: no $tool"; [[ ,${CORVEL_REQUIRE:-}, == *,hosts,* ]] && exit 1; exit 77; }; done
    mkdir -p "$out" && rm -f "$out"/*.png "$out/results.txt"
    start_session "$host" || { echo "FAIL: $host did not start"; tail -n 20 "$work"/*.log; exit 1; }
    start_app && cp "$work/b.png" "$work/empty.png" && cp "$work/b.png" "$work/now.png" && snap host
    echo "$host started in $((SECONDS - began)) s, its bar $bar px high" && log_mark=$(wc -l <"$work/host.log")
    for check in item open anchored sharp unlisted unfold actions escape outside second_click dark menu ctrl_q quit stderr host_log; do
        [[ $check == menu && $menu_button == - || $check == sharp && $scale == 1 ]] || run_check "$check"
    done
    echo "$host: $((SECONDS - began)) s, $failures unexpected failures; pictures in $out" && ((failures == 0))
}
if [[ ${BASH_SOURCE[0]} == "$0" ]]; then main "$@"; fi
