#!/usr/bin/python3
"""The attacker of a held authorization: claims the device for itself and
prints "claimed"; on a line from stdin sends MEMBER(ARG) without waiting; on
the next line releases the device, prints "released" and then how MEMBER was
answered: "reply" or "error <name>".

usage: held_call_as.py MEMBER ARG
"""

import sys

from gi.repository import Gio, GLib

FPRINT = "net.reactivated.Fprint"
PATH = "/net/reactivated/Fprint/Device/0"
IFACE = "net.reactivated.Fprint.Device"


def main():
    member, arg = sys.argv[1:3]
    bus = Gio.bus_get_sync(Gio.BusType.SYSTEM)
    loop = GLib.MainLoop()

    def call(name, args):
        bus.call_sync(FPRINT, PATH, IFACE, name, args, None, Gio.DBusCallFlags.NONE, 30000, None)

    def answered(conn, result):
        try:
            conn.call_finish(result)
            print("reply", flush=True)
        except GLib.Error as e:
            print("error", Gio.DBusError.get_remote_error(e), flush=True)
        loop.quit()

    call("Claim", GLib.Variant("(s)", ("",)))
    print("claimed", flush=True)
    sys.stdin.readline()
    bus.call(FPRINT, PATH, IFACE, member, GLib.Variant("(s)", (arg,)), None, Gio.DBusCallFlags.NONE, 120000,
             None, answered)
    bus.flush_sync(None)
    sys.stdin.readline()
    call("Release", None)
    print("released", flush=True)
    loop.run()


if __name__ == "__main__":
    main()
