"""The front end attacked by an unprivileged local user (nobody), with
dbusmock's polkit holding or refusing its answers."""

import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from frontend import (ALICE, AS_NOBODY, UNSEEN, ERROR, HERE, polkit, stack, wait_until)  # noqa: E402,F401
import dbus  # noqa: E402
import pytest  # noqa: E402

PY = "/usr/bin/python3"
ACTION = "net.reactivated.fprint.device."
DBUS_ERROR = "org.freedesktop.DBus.Error."


class TestHeldAuthorization:
    """A call whose check is still pending when its caller releases the device
    must not act on the next claim: that is another user's."""

    @pytest.mark.parametrize("member,arg,action", [("EnrollStart", "left-thumb", "enroll"),
                                                   ("DeleteEnrolledFinger", "right-index-finger", "enroll"),
                                                   ("VerifyStart", "any", "verify")])
    def test_answered_check_does_not_act_on_the_next_claim(self, stack, polkit, member, arg, action):
        if "right-index-finger.Data" not in stack.stored("root"):
            stack.enroll("root", "right-index-finger", ALICE)
        polkit.allow("verify", "enroll")
        attacker = subprocess.Popen(AS_NOBODY + [PY, os.path.join(HERE, "held_call_as.py"), member, arg],
                                    env=stack.env(), stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        device = stack.device()

        def step():
            attacker.stdin.write("\n")
            attacker.stdin.flush()

        try:
            assert attacker.stdout.readline().strip() == "claimed"
            polkit.mock.SimulateHangActions([ACTION + action])
            step()
            # The check of the attacker's call waits, as behind a password dialog.
            assert wait_until(lambda: polkit.mock.HaveHangingCalls(), 10, step=0.1)
            step()
            assert attacker.stdout.readline().strip() == "released"
            device.Claim("")
            polkit.mock.SimulateHangActions([])
            polkit.mock.ReleaseHangingCalls()
            assert attacker.stdout.readline().strip().startswith("error " + ERROR), member
            assert stack.stored("root") == ["right-index-finger.Data"]
            # Root's claim is idle: its own run starts.
            device.EnrollStart("left-thumb")
            device.EnrollStop()
        finally:
            polkit.mock.SimulateHangActions([])
            polkit.mock.ReleaseHangingCalls()
            attacker.kill()
            attacker.wait()
            try:
                device.Release()
            except dbus.exceptions.DBusException:
                pass


def as_nobody(stack, script, *args):
    """A helper script run as nobody, once it has printed its first line."""
    proc = subprocess.Popen(AS_NOBODY + [PY, os.path.join(HERE, script)] + [str(a) for a in args],
                            env=stack.env(), stdout=subprocess.PIPE, text=True)
    proc.stdout.readline()
    return proc


def stop(procs):
    for p in procs:
        p.kill()
        p.wait()


def root_gets_through(stack, rounds):
    """Root's fprintd-list and Claim+Release, each answered in under 2 s."""
    device = stack.device()
    for _ in range(rounds):
        start = time.monotonic()
        out = stack.run("fprintd-list", "root", timeout=30)
        assert out.returncode == 0 and "right-index-finger" in out.stdout, out.stdout + out.stderr
        assert time.monotonic() - start < 2
        start = time.monotonic()
        device.Claim("")
        device.Release()
        assert time.monotonic() - start < 2


class TestFloods:
    """Floods from nobody, bounded in count and time, leave root's calls
    their answers."""

    @pytest.fixture(autouse=True)
    def root_finger(self, stack):
        if "right-index-finger.Data" not in stack.stored("root"):
            stack.enroll("root", "right-index-finger", ALICE)

    def test_pending_or_refused_claims_block_no_other_claim(self, stack, polkit):
        polkit.allow()
        polkit.mock.SimulateHangActions([ACTION + "verify"])
        held = as_nobody(stack, "calls_as.py", "Claim:")
        try:
            assert wait_until(lambda: polkit.mock.HaveHangingCalls(), 10, step=0.1)
            root_gets_through(stack, 2)
            stop([held])
            root_gets_through(stack, 2)
        finally:
            polkit.mock.SimulateHangActions([])
            polkit.mock.ReleaseHangingCalls()
        floods = [as_nobody(stack, "flood_as.py", "device", "Claim", 4000, 32, 30, "") for _ in range(2)]
        try:
            root_gets_through(stack, 8)
        finally:
            stop(floods)

    def test_calls_in_flight_leave_root_its_replies(self, stack, polkit):
        floods = [as_nobody(stack, "flood_as.py", "manager", "GetDefaultDevice", 40000, 100, 30) for _ in range(3)]
        try:
            root_gets_through(stack, 8)
        finally:
            stop(floods)
        # Checks that wait for ever, each on a reply slot of the front end's.
        polkit.mock.SimulateHangActions([ACTION + "setusername"])
        held = as_nobody(stack, "flood_as.py", "device", "ListEnrolledFingers", 130, 130, 30, "root")
        try:
            root_gets_through(stack, 2)
        finally:
            stop([held])
            polkit.mock.SimulateHangActions([])
            polkit.mock.ReleaseHangingCalls()


def peak_rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        return int(next(line for line in f if line.startswith("VmHWM:")).split()[1])


class TestLargeMessages:
    def test_30_mib_calls_add_under_64_mib_to_the_front_end(self, stack, polkit):
        # libdbus holds a message twice while it takes it in (the read buffer
        # and the message), so a 30 MiB call costs 60 MiB for a moment, on
        # top of the mapped libraries; nothing more may stay or pile up.
        before = peak_rss_kib(stack.frontend.pid)
        start = time.monotonic()
        floods = [as_nobody(stack, "flood_as.py", "device", "ListEnrolledFingers", 2, 2, 60, "30MiB")
                  for _ in range(4)]
        try:
            for f in floods:
                out, _ = f.communicate(timeout=90)
                # Refused by the front end, or by the bus while the front end reads.
                answers = out.split()
                assert sum(map(int, answers[::2])) == 2, out
                assert set(answers[1::2]) <= {DBUS_ERROR + "InvalidArgs", DBUS_ERROR + "LimitsExceeded"}, out
        finally:
            stop(floods)
        peak = peak_rss_kib(stack.frontend.pid)
        print("8 calls of 30 MiB in %.1f s, peak RSS %d KiB, %d KiB before" % (time.monotonic() - start, peak, before))
        assert peak - before < 64 * 1024
        assert stack.run("fprintd-list", "root", timeout=30).returncode == 0

HOLD_DAEMON_CLAIM = """
import dbus, time
dbus.SystemBus().call_blocking("com.vorlen.fprint", "/com/vorlen", "com.vorlen.fprint", "Claim", "sb",
                               ["nobody", True], timeout=10)
print("claimed", flush=True)
time.sleep(120)
"""


class TestDaemonSideDoor:
    def test_an_idle_claim_held_by_nobody_gives_way_to_roots_verify(self, stack):
        if "right-index-finger.Data" not in stack.stored("root"):
            stack.enroll("root", "right-index-finger", ALICE)
        holder = subprocess.Popen(AS_NOBODY + [PY, "-c", HOLD_DAEMON_CLAIM], env=stack.env(),
                                  stdout=subprocess.PIPE, text=True)
        try:
            assert holder.stdout.readline().strip() == "claimed"
            claimed = time.monotonic()
            stack.sensor("place-finger", ALICE, UNSEEN)
            while True:
                out = stack.run("fprintd-verify", "root", timeout=30)
                if out.returncode == 0 or time.monotonic() - claimed > 35:
                    break
                time.sleep(1)
            assert out.returncode == 0 and "verify-match" in out.stdout, out.stdout
            assert time.monotonic() - claimed < 35
        finally:
            stop([holder])
