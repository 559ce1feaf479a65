#!/usr/bin/python3
"""Verification latency with a full store: 10 users x 10 fingers, 100 templates.

Measures, on the emulated sensor, the time from the frame's arrival (the
moment a finger is placed while the daemon waits for one: the command goes
straight to the sensor's control socket) to the first
VerifyStatus signal of Verify("any"), for genuine fingers (identified), for
the same finger touched again at once (the daemon compares the templates
that matched last first), and for strangers (every template compared). Ends
with the daemon's resident memory after these verifications.

Two stores are measured:
- generated: 100 distinct generated fingers enrolled through the daemon,
  probed with impressions enrollment never saw (a store of copies would let
  the library's cache of stored spectra look far better than it is);
- real (with --real, skipped when the images or the harness are absent):
  templates enrolled by the library from the shared harness's crops of real
  impressions, and probe crops of real fingers placed on the emulated sensor.
  Generated strangers are look-alikes that reach the costly checks far more
  often than real ones.

  bench/verify_latency.py [--build DIR] [--trials N] [--real FPDATA_DIR]
"""

import argparse
import os
import random
import shutil
import socket
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
TEMPLATE_BYTES = 28000


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
        """One command on the emulated sensor's control socket, directly: a
        program started for it would take longer than what is measured."""
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            s.connect(self.env["VORL2547_SENSOR"])
            s.sendall((" ".join(str(c) for c in command) + "\n").encode())
            answer = b""
            while chunk := s.recv(65536):
                answer += chunk
        finally:
            s.close()
        if not answer.startswith(b"ok"):
            raise RuntimeError("sensor %s: %s" % (command, answer.decode().strip()))
        return answer.decode()

    def capturing(self):
        return "capturing=1" in self.sensor("state")

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

    def rss_kib(self):
        """VmRSS of the daemon itself (the emulated sensor's child)."""
        with open(os.path.join(self.rundir, "pids")) as f:
            sim = int(f.read().split()[0])
        with open("/proc/%d/task/%d/children" % (sim, sim)) as f:
            pid = int(f.read().split()[0])
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    def stop(self):
        subprocess.run([SANDBOX, "stop", "--dir", self.rundir], env=self.env)


def generated_finger(user, finger):
    return 100 + user * FINGERS + finger


def fill_generated(d):
    for u in range(USERS):
        for f in range(FINGERS):
            d.signals = []
            d.sensor("place-finger", generated_finger(u, f))
            d.call("Enroll", "user%02d" % u, "finger%d" % f)
            d.wait_signal("EnrollStatus", lambda st: st != 2)
            if not os.path.exists(os.path.join(d.templates, "user%02d" % u, "finger%d.Data" % f)):
                raise RuntimeError("generated finger %d did not enroll" % generated_finger(u, f))


def one_latency(d, *place):
    """Frame arrival to the first VerifyStatus of Verify("any"): (ms, user, status)."""
    d.sensor("lift")
    d.signals = []
    d.call("Verify", "any")
    deadline = time.monotonic() + 10
    while not d.capturing() and time.monotonic() < deadline:
        time.sleep(0.005)
    t0 = time.monotonic()
    d.sensor(*place)
    t1, _, user, status = d.wait_signal("VerifyStatus", lambda st: True)
    if status == 3:
        d.call("StopVerify")
        d.wait_signal("VerifyStatus", lambda st: st != 3)
    return (t1 - t0) * 1000.0, user, status


def report(title, rows, rss):
    print(title)
    for name, xs in rows:
        xs = sorted(xs)
        print("  %-34s median %6.1f ms  p90 %6.1f ms  max %6.1f ms" %
              (name, statistics.median(xs), xs[int(0.9 * (len(xs) - 1))], xs[-1]))
    print("  daemon RSS after these verifications: %.1f MiB" % (rss / 1024.0))


def run_store(build, fill, trials, genuine_place, stranger_place):
    """Starts a sandbox, fills its store, measures. genuine_place(t, again)
    returns (sensor command, expected user); stranger_place(t) a command."""
    rundir = tempfile.mkdtemp(prefix="vorl2547-latency-")
    d = Daemon(build, rundir)
    try:
        d.call("Claim", "bench", True)
        fill(d)
        genuine, again, stranger, identified = [], [], [], 0
        for t in range(trials):
            place, user = genuine_place(t, False)
            ms, got, status = one_latency(d, *place)
            genuine.append(ms)
            identified += status == 0 and got == user
            place, _ = genuine_place(t, True)
            again.append(one_latency(d, *place)[0])
            stranger.append(one_latency(d, *stranger_place(t))[0])
        rss = d.rss_kib()
        d.call("Claim", "bench", False)
    finally:
        d.stop()
        shutil.rmtree(rundir, ignore_errors=True)
    return [("genuine (identified %d/%d)" % (identified, trials), genuine),
            ("same finger again at once", again),
            ("stranger (all %d compared)" % (USERS * FINGERS), stranger)], rss


# ------------------------------------------------------------------ real fingers
def write_pgm(path, crop):
    with open(path, "wb") as f:
        f.write(b"P5\n%d %d\n255\n" % (crop.shape[1], crop.shape[0]) + crop.tobytes())


def real_store(build, fpdata, bench_dir, trials, workdir):
    """Templates and probe files from the harness's crops of real impressions.
    Strangers: the FVC2000 fingers, none of which is stored. Stored: every
    other finger that enrolls (the synthetic sets fill the store), up to 100,
    fingers enrolled twice from their spare captures when there are fewer."""
    sys.path.insert(0, bench_dir)
    import fpbench  # noqa: E402  (the shared harness, never part of the tree)

    sets = sorted(os.path.join(fpdata, s) for s in os.listdir(fpdata)
                  if os.path.isdir(os.path.join(fpdata, s)))
    lib = fpbench.AbiMatcher(os.path.join(build, "fpalg", "libfpalg.so"))
    fingers = fpbench.build_fingers(sets, 1, 1)
    strangers = [f for f in fingers if f.name.startswith("fvc2000_db1_b/")]
    # FVC2000's three sets hold the same fingers: none of them is stored.
    campaign = strangers[0].identity.rsplit("/", 1)[0] + "/"
    candidates = [f for f in fingers if not f.identity.startswith(campaign)]
    stored = []
    for f in candidates:
        template, _ = lib.enroll(f.captures)
        if template is not None:
            stored.append((f, template))
    for f, _ in list(stored):
        if len(stored) >= USERS * FINGERS:
            break
        template, _ = lib.enroll(f.captures[9:])
        if template is not None:
            stored.append((f, template))
    stored = stored[:USERS * FINGERS]
    if len(stored) < USERS * FINGERS:
        raise RuntimeError("only %d real templates enrolled" % len(stored))
    owner = {}
    for i, (f, _) in enumerate(stored):
        owner.setdefault(f.name, "user%02d" % (i // FINGERS))
    # Genuine probes come from real fingers only, in a fixed shuffled order.
    real = [f for f, _ in stored if "_db4_" not in f.name]
    real = list(dict((f.name, f) for f in real).values())
    random.Random(2547).shuffle(real)

    def probe_file(f, n):
        path = os.path.join(workdir, "%s_%d.pgm" % (f.name.replace("/", "_"), n))
        if not os.path.exists(path):
            write_pgm(path, f.probes[n % len(f.probes)][1])
        return path

    def fill(d):
        for i, (_, template) in enumerate(stored):
            user_dir = os.path.join(d.templates, "user%02d" % (i // FINGERS))
            os.makedirs(user_dir, exist_ok=True)
            with open(os.path.join(user_dir, "finger%d.Data" % (i % FINGERS)), "wb") as out:
                out.write(template.tobytes())

    def genuine(t, again):
        f = real[t % len(real)]
        return ("place", probe_file(f, 1 if again else 0)), owner[f.name]

    def stranger(t):
        f = strangers[t % len(strangers)]
        return ("place", probe_file(f, t // len(strangers)))

    return fill, genuine, stranger


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.environ.get("BUILD", os.path.join(REPO, "build")))
    ap.add_argument("--trials", type=int, default=15)
    ap.add_argument("--real", metavar="FPDATA_DIR",
                    help="also with real fingers from this folder of image sets "
                         "(the shared harness beside it makes the crops)")
    args = ap.parse_args()
    build = os.path.abspath(args.build)

    rows, rss = run_store(
        build, fill_generated, args.trials,
        lambda t, again: (("place-finger", generated_finger(t % USERS, t // USERS % FINGERS),
                           (60 if again else 30) + t), "user%02d" % (t % USERS)),
        lambda t: ("place-finger", 500 + t, 0))
    report("verification latency, generated fingers, %d users x %d fingers stored, "
           "frame arrival to VerifyStatus:" % (USERS, FINGERS), rows, rss)
    goal = statistics.median(rows[2][1])

    if args.real:
        fpdata = os.path.abspath(args.real)
        bench_dir = os.path.join(os.path.dirname(fpdata), "bench")
        if not os.path.isdir(fpdata) or not os.path.isfile(os.path.join(bench_dir, "fpbench.py")):
            print("real fingers: skipped, no image sets at %s or no harness at %s" % (fpdata, bench_dir))
        else:
            # The crops are made of the real images: they live in a scratch
            # directory outside the tree and go with it.
            workdir = tempfile.mkdtemp(prefix="vorl2547-real-")
            try:
                fill, genuine, stranger = real_store(build, fpdata, bench_dir, args.trials, workdir)
                rows, rss = run_store(build, fill, args.trials, genuine, stranger)
            finally:
                shutil.rmtree(workdir, ignore_errors=True)
            report("verification latency, real fingers (crops of %s), %d templates stored:"
                   % (fpdata, USERS * FINGERS), rows, rss)
    print("goal: stranger median under 150 ms (generated) -- %s" % ("met" if goal < 150 else "NOT met"))


if __name__ == "__main__":
    sys.exit(main())
