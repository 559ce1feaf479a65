"""Makes one call to the daemon and prints the outcome; run as another user.

usage: unprivileged_call.py INTERFACE MEMBER SIGNATURE [ARG...]
Prints "reply <value>" or "error <error name>". The bus is taken from
DBUS_SYSTEM_BUS_ADDRESS.
"""

import sys

import dbus


def main():
    interface, member, signature = sys.argv[1:4]
    args = sys.argv[4:]
    bus = dbus.SystemBus()
    try:
        value = bus.call_blocking("com.vorlen.fprint", "/com/vorlen", interface or None, member,
                                  signature, args, timeout=10)
        print("reply", value)
    except dbus.exceptions.DBusException as e:
        print("error", e.get_dbus_name())


if __name__ == "__main__":
    main()
