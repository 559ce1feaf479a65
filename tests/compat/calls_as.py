#!/usr/bin/python3
"""Makes calls to the device as whoever runs it (the tests run it as nobody)
and prints one line per call: "reply" or "error <name>".

usage: calls_as.py MEMBER[:ARG]...   e.g. Claim: EnrollStart:right-thumb
"""

import sys

import dbus


def main():
    bus = dbus.SystemBus()
    device = bus.get_object("net.reactivated.Fprint", "/net/reactivated/Fprint/Device/0")
    for call in sys.argv[1:]:
        member, _, arg = call.partition(":")
        args = [arg] if ":" in call else []
        try:
            device.get_dbus_method(member, "net.reactivated.Fprint.Device")(*args, timeout=30)
            print("reply", flush=True)
        except dbus.exceptions.DBusException as e:
            print("error", e.get_dbus_name(), flush=True)


if __name__ == "__main__":
    main()
