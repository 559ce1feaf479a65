#!/usr/bin/python3
"""Verification latency with a full store: 10 users x 10 fingers.

Measures, on the emulated sensor, the time from the frame's arrival (the
moment a finger is placed while the daemon waits for one) to the
VerifyStatus signal, for genuine fingers (identified) and for strangers (every
template compared). Goal: median under 150 ms.

  bench/verify_latency.py [--build DIR] [--trials N]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import dbus
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
SANDBOX = os.path.join(REPO, "scripts", "sandbox")
IFACE = "com.vorlen.fprint"
USERS = 10
FINGERS = 10


class Daemon:
    def __init__(self, build, rundir):
        self.rundir = rundir
        self.env = dict(os.environ, VORL2547_BUILD=build)
        out = subprocess.run([SANDBOX, "start", "--dir", rundir], env=self.env, check=True,
                             capture_output=True, text=True).stdout
        for line in out.splitlines():
            key, _, value = line.partition("=")
            self.env[key] = value
        self.templates = self.env["VORL2547_TEMPLATE_DIR"]
        self.bus = dbus.bus.BusConnection(self.env["DBUS_SYSTEM_BUS_ADDRESS"],
                                          mainloop=DBusGMainLoop())
        self.signals = []
        self.bus.add_signal_receiver(self._on_signal, dbus_interface=IFACE,
                                     member_keyword="member")

    def _on_signal(self, id, status, text, member=None):
        self.signals.append((time.monotonic(), str(member), str(id), int(status)))

    def call(self, member, *args):
        sig = "".join("b" if isinstance(a, bool) else "s" for a in args)
        return self.bus.call_blocking(IFACE, "/com/vorlen", IFACE, member, sig, list(args),
                                      timeout=30)

    def sensor(self, *command):
        subprocess.run([SANDBOX, "sensor", "--dir", self.rundir] + [str(c) for c in command],
                       env=self.env, check=True, capture_output=True)

    def capturing(self):
        out = subprocess.run([SANDBOX, "sensor", "--dir", self.rundir, "state"], env=self.env,
                             capture_output=True, text=True).stdout
        return "capturing=1" in out

    def wait_signal(self, member, final, timeout=30):
        ctx = GLib.MainContext.default()
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            while ctx.iteration(False):
                pass
            for s in self.signals:
                if s[1] == member and final(s[3]):
                    return s
            time.sleep(0.001)
        raise RuntimeError("no %s signal" % member)

    def stop(self):
        subprocess.run([SANDBOX, "stop", "--dir", self.rundir], env=self.env)


def fill_store(d):
    for u in range(USERS):
        user = "user%02d" % u
        d.signals = []
        d.sensor("place-finger", 100 + u)
        d.call("Enroll", user, "finger0")
        d.wait_signal("EnrollStatus", lambda st: st != 2)
        data = open(os.path.join(d.templates, user, "finger0.Data"), "rb").read()
        for f in range(1, FINGERS):
            with open(os.path.join(d.templates, user, "finger%d.Data" % f), "wb") as out:
                out.write(data)


def one_latency(d, finger, impression):
    d.sensor("lift")
    d.signals = []
    d.call("Verify", "any")
    deadline = time.monotonic() + 10
    while not d.capturing() and time.monotonic() < deadline:
        time.sleep(0.005)
    t0 = time.monotonic()
    d.sensor("place-finger", finger, impression)
    t1, _, user, status = d.wait_signal("VerifyStatus", lambda st: True)
    if status == 3:
        d.call("StopVerify")
        d.wait_signal("VerifyStatus", lambda st: st != 3)
    return (t1 - t0) * 1000.0, user, status


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.environ.get("BUILD", os.path.join(REPO, "build")))
    ap.add_argument("--trials", type=int, default=15)
    args = ap.parse_args()
    rundir = tempfile.mkdtemp(prefix="vorl2547-latency-")
    d = Daemon(os.path.abspath(args.build), rundir)
    try:
        d.call("Claim", "bench", True)
        fill_store(d)
        genuine, stranger, identified = [], [], 0
        for t in range(args.trials):
            ms, user, status = one_latency(d, 100 + t % USERS, 30 + t)
            genuine.append(ms)
            identified += status == 0 and user == "user%02d" % (t % USERS)
            ms, _, _ = one_latency(d, 500 + t, 0)
            stranger.append(ms)
        d.call("Claim", "bench", False)
    finally:
        d.stop()
        shutil.rmtree(rundir, ignore_errors=True)
    print("verification latency, %d users x %d fingers stored, frame arrival to VerifyStatus:"
          % (USERS, FINGERS))
    for name, xs in (("genuine (identified %d/%d)" % (identified, args.trials), genuine),
                     ("stranger (all %d compared)" % (USERS * FINGERS), stranger)):
        xs = sorted(xs)
        print("  %-28s median %6.1f ms  p90 %6.1f ms  max %6.1f ms" %
              (name, statistics.median(xs), xs[int(0.9 * (len(xs) - 1))], xs[-1]))
    worst = statistics.median(stranger)
    print("  goal: median under 150 ms -- %s" % ("met" if worst < 150 else "NOT met"))


if __name__ == "__main__":
    sys.exit(main())
