"""VerifyUser: a verification against one user's fingers. Its match names the
finger; nobody else's template is read or renewed, whoever calls it (nobody,
under the shipped policy) and whatever id they pass."""

import json
import os
import subprocess

from conftest import call, wait_until
from emulated_sensor import daemon_wrapper, sensor, sensor_dir  # noqa: F401  (fixtures)
from status_signals import bus, signals  # noqa: F401  (fixtures)

VERIFY = "VerifyStatus"
ALICE, BOB = 3, 11
UNSEEN = 40
NOBODY = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]

# Runs as nobody (passed as source text: the checkout may sit where nobody
# cannot read): claims the sensor, then one VerifyUser per (id, finger),
# waiting for each run's last signal; prints what each call got.
VERIFY_AS = r'''
import json, sys, time
import dbus
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib
bus = dbus.SystemBus(mainloop=DBusGMainLoop())
events = []
bus.add_signal_receiver(lambda i, s, t: events.append([str(i), int(s), str(t)]),
                        dbus_interface="com.vorlen.fprint", signal_name="VerifyStatus")
def call(member, sig, *args):
    return bus.call_blocking("com.vorlen.fprint", "/com/vorlen", "com.vorlen.fprint", member,
                             sig, list(args), timeout=10)
call("Claim", "sb", "nobody", True)
out = []
for user, finger in json.loads(sys.argv[1]):
    del events[:]
    try:
        call("VerifyUser", "ss", user, finger)
    except dbus.exceptions.DBusException as e:
        out.append(e.get_dbus_message())
        continue
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline and not any(e[1] != 3 for e in events):
        GLib.MainContext.default().iteration(False) or time.sleep(0.01)
    out.append(events[-1] if events else None)
call("Claim", "sb", "nobody", False)
print(json.dumps(out))
'''


def stamp(daemon, user, finger):
    st = os.stat(os.path.join(daemon.template_dir, user, finger + ".Data"))
    return st.st_ino, st.st_mtime_ns


def verify_user(bus, signals, user, finger):
    signals.clear()
    assert call(bus, "VerifyUser", "ss", [user, finger]) is None
    return signals.wait_final(VERIFY)


class TestVerifyUser:
    def test_a_match_names_the_finger_and_renews_that_template_only(self, bus, daemon, sensor,
                                                                   signals):
        call(bus, "Claim", "sb", ["tester", True])
        for user, finger, generated in (("alice", "right-index", ALICE), ("bob", "left", BOB)):
            sensor("place-finger", generated)
            signals.clear()
            assert call(bus, "Enroll", "ss", [user, finger]) is None
            assert signals.wait_final("EnrollStatus")[-1][2] == 0
        alice, bob = stamp(daemon, "alice", "right-index"), stamp(daemon, "bob", "left")
        sensor("place-finger", ALICE, UNSEEN)
        assert verify_user(bus, signals, "alice", "any")[-1] == \
            (VERIFY, "alice", 0, "{finger:right-index}")
        # Renewed once the answer is out.
        assert wait_until(lambda: stamp(daemon, "alice", "right-index") != alice, 5)
        assert stamp(daemon, "bob", "left") == bob

    def test_a_touch_of_another_users_finger_renews_nobodys_template(self, bus, daemon, sensor,
                                                                     signals):
        before = stamp(daemon, "alice", "right-index"), stamp(daemon, "bob", "left")
        mark = len(daemon.log())
        # Alice's finger, which Verify would identify, checked as bob's.
        sensor("place-finger", ALICE, UNSEEN + 1)
        events = verify_user(bus, signals, "bob", "any")
        assert [e[2] for e in events] == [3, 3, 3, 3, 1]
        assert (stamp(daemon, "alice", "right-index"), stamp(daemon, "bob", "left")) == before
        # One comparison per touch: bob's only template.
        assert daemon.log()[mark:].count("vlFpMatchScore score:") == 5
        call(bus, "Claim", "sb", ["tester", False])

    def test_nobody_cannot_reach_another_users_templates(self, private_bus, daemon, sensor):
        # A link in the store leads to alice's directory; only root could
        # make one, and it is no user of its own.
        os.symlink("alice", os.path.join(daemon.template_dir, "mallory"))
        before = stamp(daemon, "alice", "right-index"), stamp(daemon, "bob", "left")
        sensor("place-finger", ALICE, UNSEEN + 2)
        runs = [["../alice", "any"], ["..", "any"], ["bob/../alice", "any"], ["", "any"],
                ["a" * 64, "any"], ["al\nice", "any"], ["bob", "../alice/right-index"],
                ["mallory", "any"], ["bob", "right-index"], ["bob", "any"]]
        out = subprocess.run(NOBODY + ["/usr/bin/python3", "-c", VERIFY_AS, json.dumps(runs)],
                             env={"DBUS_SYSTEM_BUS_ADDRESS": private_bus.address,
                                  "PATH": "/usr/bin:/bin"},
                             capture_output=True, text=True, timeout=120, cwd="/")
        assert out.returncode == 0, out.stderr
        got = json.loads(out.stdout)
        assert got[:7] == ["VerifyUser fail."] * 7
        # Nothing of that name to compare with; then bob's prints, not alice's.
        assert got[7:] == [["", 2, "{subcode:1}"], ["", 2, "{subcode:1}"], ["", 1, ""]]
        assert (stamp(daemon, "alice", "right-index"), stamp(daemon, "bob", "left")) == before
