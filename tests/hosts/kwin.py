# KWin's own views of the session, through its D-Bus interface. "shot [native]": a picture of the
# workspace as PNG on standard output (grim does not work on KWin), at scale 1 or at the output's pixels.
# "windows <log>": the windows a task manager lists (not skip-taskbar), one a line with their process id
# and class, read back from KWin's log.
import os, subprocess, sys, time
from gi.repository import Gio, GLib

bus = Gio.bus_get_sync(Gio.BusType.SESSION)
def call(path, interface, method, args, fds=None):
    return bus.call_with_unix_fd_list_sync("org.kde.KWin", path, interface, method, args, None, 0, 10000,
                                           fds, None)[0].unpack()

if sys.argv[1] == "shot":
    read, write = os.pipe()
    image = call("/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2", "CaptureWorkspace", GLib.Variant("(a{sv}h)",
                 ({"native-resolution": GLib.Variant("b", "native" in sys.argv)}, 0)), Gio.UnixFDList.new_from_array([write]))[0]
    # the list owns the write end and closes it when it goes
    with os.fdopen(read, "rb") as pipe:
        data = pipe.read()
    # KWin sends a 32-bit QImage (ARGB32 or RGB32), which is BGRA in memory on this machine.
    size = f"{image['stride'] // 4}x{image['height']}"
    subprocess.run(["convert", "-size", size, "-depth", "8", "bgra:-", "-alpha", "off",
                    "-crop", f"{image['width']}x{image['height']}+0+0", "png:-"], input=data, check=True)
else:
    mark = f"corvel-windows-{os.getpid()}"
    with open(f"{os.environ['XDG_RUNTIME_DIR']}/{mark}.js", "w") as script:
        script.write("workspace.clientList().forEach(function (w) { if (!w.skipTaskbar) "
                     f"print('{mark}', w.pid, w.resourceClass, w.caption); }});")
    call("/Scripting", "org.kde.kwin.Scripting", "loadScript", GLib.Variant("(ss)", (script.name, mark)))
    call("/Scripting", "org.kde.kwin.Scripting", "start", None)
    time.sleep(0.5)
    call("/Scripting", "org.kde.kwin.Scripting", "unloadScript", GLib.Variant("(s)", (mark,)))
    for line in open(sys.argv[2], errors="replace"):
        if mark in line:
            print(line.split(mark, 1)[1].strip())
