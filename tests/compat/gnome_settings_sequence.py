#!/usr/bin/python3
"""The calls GNOME Settings' fingerprint dialog makes, in its order: find the
device, list the user's fingers unclaimed, claim, enroll one finger following
the EnrollStatus progress, stop, delete the user's fingers, release.

usage: gnome_settings_sequence.py [FINGER]   (as the user, like the dialog)
Prints each step; exit status 0 when the progress reached num-enroll-stages
at enroll-completed and every call was answered.
"""

import os
import pwd
import sys

import dbus
import dbus.mainloop.glib
from gi.repository import GLib

FPRINT = "net.reactivated.Fprint"
MANAGER = "net.reactivated.Fprint.Manager"
DEVICE = "net.reactivated.Fprint.Device"


def main():
    finger = sys.argv[1] if len(sys.argv) > 1 else "right-index-finger"
    # The dialog names the account it shows, which is the caller's own.
    user = pwd.getpwuid(os.getuid()).pw_name
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SystemBus()
    manager = dbus.Interface(bus.get_object(FPRINT, "/net/reactivated/Fprint/Manager"), MANAGER)
    devices = manager.GetDevices()
    print("GetDevices:", [str(d) for d in devices])
    obj = bus.get_object(FPRINT, devices[0])
    device = dbus.Interface(obj, DEVICE)
    props = obj.GetAll(DEVICE, dbus_interface=dbus.PROPERTIES_IFACE)
    stages = int(props["num-enroll-stages"])
    print("device:", props["name"], "scan-type:", props["scan-type"], "stages:", stages)
    try:
        print("ListEnrolledFingers (unclaimed):", [str(f) for f in device.ListEnrolledFingers(user)])
    except dbus.exceptions.DBusException as e:
        print("ListEnrolledFingers (unclaimed):", e.get_dbus_name())
    device.Claim(user)
    print("Claim")

    loop = GLib.MainLoop()
    progress = {"passed": 0, "result": None}

    def on_status(result, done):
        if result == "enroll-stage-passed":
            progress["passed"] += 1
        print("EnrollStatus: %s (%s) progress %d/%d" % (result, "done" if done else "not done",
                                                         progress["passed"], stages))
        if done:
            progress["result"] = str(result)
            loop.quit()

    bus.add_signal_receiver(on_status, "EnrollStatus", DEVICE, FPRINT, str(devices[0]))
    device.EnrollStart(finger)
    print("EnrollStart", finger)
    GLib.timeout_add_seconds(60, loop.quit)
    loop.run()
    device.EnrollStop()
    print("EnrollStop")
    print("ListEnrolledFingers (claimed):", [str(f) for f in device.ListEnrolledFingers(user)])
    device.DeleteEnrolledFingers2()
    print("DeleteEnrolledFingers2")
    device.Release()
    print("Release")
    ok = progress["result"] == "enroll-completed" and progress["passed"] == stages
    print("progress reached %d of %d at %s" % (progress["passed"], stages, progress["result"]))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
