"""kill -9 of the daemon while it renews templates never leaves a torn file:
every save is a temporary file renamed over the old one."""

import os
import random
import signal
import threading
import time

import dbus

from conftest import Daemon, call, daemon_argv, daemon_pid, wait_until
from emulated_sensor import SIM, Sensor
from status_signals import StatusRecorder

RENEWALS = int(os.environ.get("VORL2547_RENEWALS", "100"))
KILLS = 5
ALICE = 3


def start(private_bus, bus, caller, tmp_path, n, template_dir):
    sock = str(tmp_path / ("sensor%d.sock" % n))
    d = Daemon(private_bus.address, daemon_argv(wrapper=[SIM, "--socket", sock, "--"]))
    d.env["VORL2547_TEMPLATE_DIR"] = template_dir
    d.start()
    d.wait_owned(bus)
    sensor = Sensor(sock)
    sensor("place-finger", ALICE)
    assert call(caller, "Claim", "sb", ["tester", True]) is None
    return d, sensor


def test_kill_during_renewals_leaves_every_template_whole(private_bus, bus, tmp_path):
    signals = StatusRecorder(private_bus.address)
    daemons = []
    try:
        kill_during_renewals(private_bus, bus, signals, tmp_path, daemons)
    finally:
        # A daemon left behind on the shared bus would answer in place of
        # the daemons of every later test.
        for d in daemons:
            d.stop()
        signals.close()


def kill_during_renewals(private_bus, bus, signals, tmp_path, daemons):
    template_dir = str(tmp_path / "templates")
    os.mkdir(template_dir)
    path = os.path.join(template_dir, "alice", "right-index.Data")
    # The run's signals go to the connection that started it.
    caller = signals.conn
    rng = random.Random(2547)

    d, sensor = start(private_bus, bus, caller, tmp_path, 0, template_dir)
    daemons.append(d)
    assert call(caller, "Enroll", "ss", ["alice", "right-index"]) is None
    assert signals.wait_final("EnrollStatus")[-1][2] == 0

    renewals = 0
    for k in range(KILLS):
        if k:
            d, sensor = start(private_bus, bus, caller, tmp_path, k, template_dir)
            daemons.append(d)
        stop = threading.Event()
        done = []

        def renew_loop():
            # One matching verification renews the template once.
            while not stop.is_set():
                try:
                    call(caller, "Verify", "s", ["any"], timeout=5)
                except dbus.exceptions.DBusException:
                    return
                deadline = time.monotonic() + 5
                while time.monotonic() < deadline and not stop.is_set():
                    mtime = os.stat(path).st_mtime_ns
                    if mtime != last[0]:
                        last[0] = mtime
                        done.append(1)
                        break
                    time.sleep(0.005)

        last = [os.stat(path).st_mtime_ns]
        worker = threading.Thread(target=renew_loop)
        worker.start()
        target = RENEWALS * (k + 1) // KILLS
        # Kill at a random moment once this round's share of renewals is near.
        assert wait_until(lambda: renewals + len(done) >= target - 1, 120)
        time.sleep(rng.uniform(0.0, 0.3))
        os.kill(daemon_pid(d), signal.SIGKILL)
        stop.set()
        worker.join()
        renewals += len(done)
        d.stop()

        assert os.path.getsize(path) == 28000, "torn template after kill %d" % k
        leftovers = [n for n in os.listdir(os.path.dirname(path)) if n != "right-index.Data"]
        # A temporary file may survive a kill; it starts with "." so no
        # listing ever treats it as a template.
        assert all(n.startswith(".") for n in leftovers)

    assert renewals >= RENEWALS - KILLS
    # The template that survived all this still identifies its finger.
    d, sensor = start(private_bus, bus, caller, tmp_path, KILLS, template_dir)
    daemons.append(d)
    signals.clear()
    assert call(caller, "Verify", "s", ["any"]) is None
    assert signals.wait_final("VerifyStatus")[-1] == ("VerifyStatus", "alice", 0, "")
