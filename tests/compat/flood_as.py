#!/usr/bin/python3
"""A flood from whoever runs it (the tests run it as nobody): COUNT calls of
MEMBER(ARG...) on the manager or the device, WINDOW of them waiting at a
time, on one connection, for at most SECONDS. Prints "started", then at the
end how the calls were answered, one "<count> <reply|error name>" a line.

usage: flood_as.py manager|device MEMBER COUNT WINDOW SECONDS [ARG]
An ARG of the form "<n>MiB" stands for a string of n MiB.
"""

import collections
import sys

from gi.repository import Gio, GLib

PATHS = {"manager": ("/net/reactivated/Fprint/Manager", "net.reactivated.Fprint.Manager"),
         "device": ("/net/reactivated/Fprint/Device/0", "net.reactivated.Fprint.Device")}


def main():
    obj, member, count, window, seconds = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), \
        float(sys.argv[5])
    arg = sys.argv[6] if len(sys.argv) > 6 else None
    if arg is not None and arg.endswith("MiB"):
        arg = "a" * (int(arg[:-3]) << 20)
    args = GLib.Variant("(s)", (arg,)) if arg is not None else None
    path, iface = PATHS[obj]
    bus = Gio.bus_get_sync(Gio.BusType.SYSTEM)
    loop = GLib.MainLoop()
    outcomes = collections.Counter()
    state = {"sent": 0, "waiting": 0}

    def answered(conn, result):
        try:
            conn.call_finish(result)
            outcomes["reply"] += 1
        except GLib.Error as e:
            outcomes[Gio.DBusError.get_remote_error(e) or e.message] += 1
        state["waiting"] -= 1
        send()

    def send():
        while state["waiting"] < window and state["sent"] < count:
            state["sent"] += 1
            state["waiting"] += 1
            bus.call("net.reactivated.Fprint", path, iface, member, args, None, Gio.DBusCallFlags.NONE, 60000,
                     None, answered)
        if state["waiting"] == 0:
            loop.quit()

    send()
    print("started", flush=True)
    GLib.timeout_add(int(seconds * 1000), loop.quit)
    loop.run()
    for outcome, n in sorted(outcomes.items()):
        print(n, outcome, flush=True)


if __name__ == "__main__":
    main()
