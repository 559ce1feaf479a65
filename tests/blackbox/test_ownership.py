"""A run belongs to the client that started it. Another local user (nobody,
under the shipped policy) can neither end nor take over a verification, nor
overhear its result, nor hold others up with a flood of calls; a client that
dies gives the sensor back; client strings cannot forge log lines."""

import grp
import json
import os
import shutil
import stat
import subprocess
import tempfile
import threading
import time

import dbus
import pytest

from client_tools import (CTL, client_env, enroll_with_ctl, paused, run_ctl, send_call_no_wait,
                          start_ctl)
from conftest import ERR_FAILED, IFACE, PROPS, call, call_error, wait_until
from emulated_sensor import daemon_wrapper, sensor, sensor_dir  # noqa: F401  (fixtures)

ALICE = 3
UNSEEN = 40
NOBODY = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
BUSY = "org.freedesktop.DBus.Error.Failed: OpenDevice fail."

# The helpers below run as nobody and are passed as source text: the checkout
# may sit where nobody cannot read.
CALLS = r'''
import json, sys
import dbus
bus = dbus.SystemBus()
types = {"s": dbus.String, "b": dbus.Boolean}
out = []
for iface, member, sig, args in json.loads(sys.argv[1]):
    try:
        bus.call_blocking("com.vorlen.fprint", "/com/vorlen", iface, member, sig,
                          [types[t](a) for t, a in zip(sig, args)], timeout=10)
        out.append("reply")
    except dbus.exceptions.DBusException as e:
        out.append("%s: %s" % (e.get_dbus_name(), e.get_dbus_message()))
print(json.dumps(out))
'''

FLOOD = r'''
import sys
import dbus, dbus.lowlevel
bus = dbus.SystemBus()
for _ in range(int(sys.argv[1])):
    msg = dbus.lowlevel.MethodCallMessage("com.vorlen.fprint", "/com/vorlen",
                                          "com.vorlen.fprint", "ListFingers")
    msg.append("alice", signature="s")
    msg.set_no_reply(True)
    bus.send_message(msg)
bus.flush()
print("sent", flush=True)
sys.stdin.read()
'''

LISTEN = r'''
import json, sys
import dbus
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib
bus = dbus.SystemBus(mainloop=DBusGMainLoop())
heard = []
bus.add_signal_receiver(lambda *args, **kw: heard.append(kw["member"]),
                        dbus_interface="com.vorlen.fprint", member_keyword="member")
bus.call_blocking("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                  "GetId", "", [])
print("ready", flush=True)
loop = GLib.MainLoop()
GLib.io_add_watch(0, GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP, lambda *a: loop.quit())
loop.run()
print(json.dumps(heard))
'''


def nobody_env(address):
    return {"DBUS_SYSTEM_BUS_ADDRESS": address, "PYTHONDONTWRITEBYTECODE": "1",
            "PATH": "/usr/bin:/bin"}


def as_nobody(address, source, *args, **kw):
    return subprocess.Popen(NOBODY + ["/usr/bin/python3", "-c", source] + [str(a) for a in args],
                            env=nobody_env(address), cwd="/", text=True, stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


def nobody_calls(address, calls):
    proc = as_nobody(address, CALLS, json.dumps(calls))
    out, err = proc.communicate(timeout=60)
    assert proc.returncode == 0, err
    return json.loads(out)


@pytest.fixture(scope="class")
def alice(private_bus, daemon, sensor):
    enroll_with_ctl(private_bus.address, sensor, "alice", "right-index", ALICE)


@pytest.fixture
def nobody_ctl():
    """vorl2547-ctl where nobody may run it."""
    d = tempfile.mkdtemp(prefix="vorl2547-ctl-")
    os.chmod(d, 0o755)
    ctl = shutil.copy(CTL, d)
    os.chmod(ctl, 0o755)
    yield ctl
    shutil.rmtree(d)


def finish(proc, timeout=30):
    try:
        return proc.communicate(timeout=timeout)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()


class TestAnotherUser:
    def test_claim_and_stop_of_another_user_change_nothing(self, private_bus, daemon, sensor,
                                                           alice):
        address = private_bus.address
        sensor("lift")
        proc = start_ctl(address, "verify")
        try:
            assert wait_until(lambda: sensor.state()["capturing"] == "1", 15)
            mark = len(daemon.log())
            got = nobody_calls(address, [[IFACE, "Claim", "sb", ["x", False]],
                                         [IFACE, "Claim", "sb", ["x", True]],
                                         [IFACE, "StopVerify", "", []],
                                         [IFACE, "Verify", "s", ["any"]]])
            assert got == [BUSY, BUSY, "reply", ERR_FAILED + ": Verify fail."]
            # A second client of root's own is told so, and changes nothing either.
            second = run_ctl(address, "verify")
            assert (second.returncode, second.stderr) == (2, "vorl2547-ctl: the sensor is busy\n")
            time.sleep(0.5)
            assert proc.poll() is None and sensor.state()["claimed"] == "1"
            assert "verify exit" not in daemon.log()[mark:]
            sensor("place-finger", ALICE, UNSEEN)
            out, _ = finish(proc)
        finally:
            finish(proc, 1)
        assert (proc.returncode, out) == (0, "alice\n")

    def test_a_passive_listener_hears_no_result(self, private_bus, daemon, sensor, alice):
        listener = as_nobody(private_bus.address, LISTEN)
        try:
            assert listener.stdout.readline().strip() == "ready"
            sensor("place-finger", ALICE, UNSEEN + 1)
            out = run_ctl(private_bus.address, "verify")
            assert (out.returncode, out.stdout) == (0, "alice\n")
            heard, err = finish(listener, 15)
        finally:
            finish(listener, 1)
        assert json.loads(heard) == [], err

    def test_a_flood_of_calls_does_not_hold_up_others(self, private_bus, bus, daemon, sensor):
        flood = as_nobody(private_bus.address, FLOOD, 1000)
        answers = []
        try:
            with paused(daemon):
                assert flood.stdout.readline().strip() == "sent"
                # Queued behind the whole flood.
                asker = threading.Thread(target=lambda: answers.append(
                    call(bus, "Get", "ss", [IFACE, "State"], interface=PROPS, timeout=30)))
                asker.start()
                time.sleep(0.3)
            resumed = time.monotonic()
            asker.join(30)
            took = time.monotonic() - resumed
        finally:
            finish(flood, 1)
        assert answers == [1]
        assert took < 2.0, "answered after %.1f s" % took

    def test_a_killed_client_gives_the_sensor_back(self, private_bus, daemon, sensor, alice,
                                                   nobody_ctl):
        sensor("lift")
        proc = subprocess.Popen(NOBODY + [nobody_ctl, "verify"], cwd="/",
                                env=client_env(private_bus.address), stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True)
        try:
            assert wait_until(lambda: sensor.state()["capturing"] == "1", 15)
        finally:
            proc.kill()
            finish(proc)
        killed = time.monotonic()
        assert wait_until(lambda: sensor.state()["claimed"] == "0", 5, step=0.02)
        assert time.monotonic() - killed < 1.0
        sensor("place-finger", ALICE, UNSEEN + 2)
        out = run_ctl(private_bus.address, "verify")
        assert (out.returncode, out.stdout) == (0, "alice\n")


    def test_a_claim_whose_client_is_gone_already_is_released(self, private_bus, daemon,
                                                               sensor):
        # Gone before the daemon even reads the claim: no NameOwnerChanged
        # can follow, yet the sensor must not stay claimed for ever.
        with paused(daemon):
            conn = dbus.bus.BusConnection(private_bus.address)
            send_call_no_wait(conn, "Claim", "sb", ["gone", True])
            conn.close()
        daemon.wait_log("claim holder")
        assert wait_until(lambda: sensor.state()["claimed"] == "0", 5)


class TestClientStrings:
    def test_no_forged_log_line_and_no_two_line_finger(self, private_bus, bus, daemon, sensor):
        forged = "[fake] verify ok root"
        assert nobody_calls(private_bus.address,
                            [[IFACE, "Claim", "sb", ["x\n%s\n\x1b[2J" % forged, False]]]) == \
            ["reply"]
        assert call(bus, "Claim", "sb", ["tester", True]) is None
        assert call_error(bus, "Enroll", "ss", ["alice", "two\nlines"]) == \
            (ERR_FAILED, "Enroll fail.")
        assert call(bus, "Claim", "sb", ["tester", False]) is None
        daemon.wait_log("--rcved: id=x\\n%s\\n\\x1b[2J claimed=0" % forged)
        lines = daemon.log().splitlines()
        assert forged not in lines and not any("\x1b" in line for line in lines)
        assert "--rcved: id=alice, finger=two\\nlines" in lines

    def test_log_file_is_not_world_readable(self, daemon):
        st = os.stat(daemon.log_file)
        assert stat.S_IMODE(st.st_mode) == 0o640
        try:
            assert st.st_gid == grp.getgrnam("adm").gr_gid
        except KeyError:
            pass
