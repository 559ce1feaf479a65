#!/usr/bin/python3
"""Soak and fault run: the daemon on the emulated sensor, driven for a while
by a seeded random script of method calls and sensor events.

  soak.py [--seconds N] [--seed S] [--build DIR] [--keep]

Checks, throughout: every call is answered (members the daemon does not
know get no reply by design: for them the script expects none); every
Enroll or Verify that was answered ends with exactly one final signal; no
template file is ever torn, lost or left over except through the script's
own deletes and renames; the daemon's RSS, descriptors and threads stay
flat after warm-up; the daemon never dies. Prints a summary; exits 1 on
any violation. The same seed replays the same script (the daemon's timing
still varies).
"""

import argparse
import os
import random
import shutil
import sys
import tempfile
import threading
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(REPO, "tests", "blackbox"))

import dbus  # noqa: E402

import soak_probe  # noqa: E402
from soak_model import ENROLL, VERIFY, Runs, Store  # noqa: E402

USERS = ["ann", "ben", "cai"]
FINGERS = ["thumb", "index", "middle", "ring", "little", "left", "right"]
# Generated fingers: the enrolled ones by user and finger, and strangers.
STRANGERS = [90, 91, 92]
CHECKPOINT_SECONDS = 20
WARMUP_CHECKPOINTS = 1
FINAL_WAIT = 20.0        # a stopped run ends within one pass and a 3 s receive
SHORT_TIMEOUT = 3.0      # enough for an answer to come, for those that never do


class Soak:
    def __init__(self, args, build):
        os.environ["VORL2547_BUILD"] = build
        # Imported late: the harness reads the build directory when loaded.
        import conftest
        import emulated_sensor
        import privbus
        import status_signals
        self.h = conftest
        self.args = args
        self.rng = random.Random(args.seed)
        self.dir = tempfile.mkdtemp(prefix="vorl2547-soak-")
        self.violations = []
        self.t0 = time.monotonic()
        self.calls = 0
        self.unanswered = 0
        self.faults = {}
        self.deaths = 0
        self.torn = 0
        self.samples = []
        self.claimed = False
        self.plugged = True
        self.enrolled_with = {}    # (user, finger) -> generated finger number
        self.impression = 1000     # verification impressions never seen in enrollment
        self.trace = open(os.path.join(self.dir, "trace"), "w")

        self.bus_proc = privbus.PrivateBus(conftest.POLICY_FILE)
        self.bus_proc.start()
        sock = os.path.join(self.dir, "sensor.sock")
        self.daemon = conftest.Daemon(self.bus_proc.address, conftest.daemon_argv(
            build, [emulated_sensor.SIM, "--socket", sock, "--"]))
        self.store = Store(self.daemon.template_dir)
        self.runs = Runs(self.violation)
        # A run's signals go only to the connection that started it: every
        # call goes through the recorder's.
        self.signals = status_signals.StatusRecorder(self.bus_proc.address)
        self.bus = self.signals.conn
        self.daemon.start()
        self.daemon.wait_owned(self.bus)
        self.sensor = emulated_sensor.Sensor(sock)
        self.pid = int(self.bus.call_blocking(
            "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "GetConnectionUnixProcessID", "s", [conftest.BUS_NAME]))
        self.watch_stop = threading.Event()
        self.watcher = threading.Thread(target=self.watch_templates, daemon=True)
        self.watcher.start()

    # ---- bookkeeping -------------------------------------------------------

    def log(self, text):
        self.trace.write("%9.3f %s\n" % (time.monotonic() - self.t0, text))

    def violation(self, text):
        self.log("VIOLATION " + text)
        self.violations.append(text)
        print("soak: VIOLATION: " + text, file=sys.stderr)

    def watch_templates(self):
        """Looks at every template's size all the time, not only at
        checkpoints: a torn file may be renamed away again a moment later."""
        seen = set()
        while not self.watch_stop.wait(0.05):
            for t in self.store.torn():
                if t not in seen:
                    seen.add(t)
                    self.torn += 1
                    self.violation("torn template " + t)

    def pump(self, seconds=0.0):
        self.signals.pump(seconds)
        for member, uid, status, text in self.signals.events:
            self.log("signal %s %r %d %r" % (member, uid, status, text))
            self.runs.signal(member, uid, status, text)
        self.signals.events = []

    def alive(self):
        if self.daemon.proc.poll() is None and os.path.exists("/proc/%d" % self.pid):
            return True
        self.deaths += 1
        self.violation("the daemon died; its output ends:\n" + self.daemon.stdout()[-3000:])
        return False

    # ---- calls -------------------------------------------------------------

    def call(self, member, sig="", args=(), iface=None, path=None, expect_reply=True,
             timeout=None):
        """One call; returns ("ok", value) or ("error", dbus name, message)."""
        h = self.h
        self.calls += 1
        timeout = timeout or (h.CALL_TIMEOUT if expect_reply else SHORT_TIMEOUT)
        try:
            value = self.bus.call_blocking(h.BUS_NAME, path or h.PATH, iface or h.IFACE, member,
                                           sig, list(args), timeout=timeout)
            result = ("ok", value)
        except dbus.exceptions.DBusException as e:
            result = ("error", e.get_dbus_name(), e.get_dbus_message())
        self.log("call %s%r -> %s" % (member, tuple(a if not isinstance(a, str) or len(a) < 80
                                                    else "<%d bytes>" % len(a) for a in args),
                                      result[:2] if result[0] == "ok" else result))
        noreply = result[0] == "error" and result[1] == h.ERR_NO_REPLY
        if expect_reply and noreply:
            self.unanswered += 1
            self.violation("%s got no answer within %.0f s" % (member, timeout))
        elif not expect_reply and not noreply:
            self.violation("%s.%s is not the daemon's and was answered: %r"
                           % (iface, member, result))
        # Signals are taken in only after the caller has booked the answer,
        # so a run's signals never come before the run.
        return result

    def act_claim(self, on=None):
        on = self.rng.random() < 0.8 if on is None else on
        r = self.call("Claim", "sb", ["soak", on])
        if r[0] == "ok":
            self.claimed = on
        # A release stops any worker, whatever the answer to the new claim.

    def act_enroll(self):
        user = self.rng.choice(USERS)
        finger = self.rng.choice(FINGERS)
        generated = USERS.index(user) * 10 + FINGERS.index(finger)
        if self.rng.random() < 0.7:
            self.sensor("place-finger", generated)
        r = self.call("Enroll", "ss", [user, finger])
        if r == ("ok", None):
            self.runs.accepted(ENROLL, user, finger)
            self.enrolled_with[(user, finger)] = generated
            self.pump(0.1)   # a refusal's signal came before the reply

    def act_verify(self):
        finger = self.rng.choice(["any", "", "any"] + FINGERS)
        known = [g for (u, f), g in self.enrolled_with.items() if self.store.has(u, f)]
        if known and self.rng.random() < 0.6:
            self.impression += 1
            self.sensor("place-finger", self.rng.choice(known), self.impression)
        elif self.rng.random() < 0.7:
            self.sensor("place-finger", self.rng.choice(STRANGERS))
        r = self.call("Verify", "s", [finger])
        if r == ("ok", None):
            self.runs.accepted(VERIFY)

    def act_stop(self):
        # Mostly the stop of the running kind, sometimes the other one.
        run = self.runs.open_run()
        kind = run if run and self.rng.random() < 0.8 else self.rng.choice([ENROLL, VERIFY])
        self.call("StopEnroll" if kind == ENROLL else "StopVerify")

    def act_list(self):
        user = self.rng.choice(USERS)
        r = self.call("ListFingers", "s", [user])
        # A run that is saving or renewing can change the store any moment;
        # compare only when nothing runs.
        if r[0] == "ok" and self.runs.open_run() is None:
            got = set(str(f) for f in r[1])
            if got != self.store.of(user):
                self.violation("ListFingers(%s) = %s, expected %s"
                               % (user, sorted(got), sorted(self.store.of(user))))

    def pick_stored(self):
        pairs = [(u, f) for u in USERS for f in sorted(self.store.of(u))]
        if pairs and self.rng.random() < 0.8:
            return self.rng.choice(pairs)
        return self.rng.choice(USERS), self.rng.choice(FINGERS)

    def act_rename(self):
        user, finger = self.pick_stored()
        newname = self.rng.choice(FINGERS)
        r = self.call("RenameFinger", "sss", [user, finger, newname])
        if r == ("ok", None):
            self.before_store_change()
            self.store.rename(user, finger, newname)
            if (user, finger) in self.enrolled_with:
                self.enrolled_with[(user, newname)] = self.enrolled_with[(user, finger)]

    def act_delete(self):
        if self.rng.random() < 0.15:
            user = self.rng.choice(USERS)
            if self.call("DeleteAllFingers", "s", [user]) == ("ok", None):
                self.before_store_change()
                self.store.delete_all(user)
            return
        user, finger = self.pick_stored()
        if self.call("DeleteFinger", "ss", [user, finger]) == ("ok", None):
            self.before_store_change()
            self.store.delete(user, finger)

    def act_properties(self):
        props = self.h.PROPS
        if self.rng.random() < 0.3:
            self.call("GetAll", "s", [self.rng.choice(["", "com.vorlen.fprint"])], iface=props)
        else:
            self.call("Get", "ss", ["", self.rng.choice(["Name", "State", "Type", "Capability",
                                                         "Nothing"])], iface=props)

    MALFORMED = [
        ("Enroll", "s", ["ann"]), ("Enroll", "ssi", ["ann", "x", 1]), ("Claim", "ss", ["a", "b"]),
        ("Claim", "", []), ("Verify", "i", [3]), ("Verify", "ss", ["a", "b"]),
        ("RenameFinger", "ss", ["ann", "x"]), ("DeleteFinger", "s", ["ann"]),
        ("ListFingers", "", []), ("ListFingers", "as", [["a", "b"]]),
        ("DeleteAllFingers", "u", [7]), ("Enroll", "ss", ["../etc", "x"]),
        ("Enroll", "ss", ["ann", "a/b"]), ("DeleteFinger", "ss", ["..", ".."]),
        ("ListFingers", "s", ["x" * 100000]), ("Verify", "s", ["%n%n%n%s" * 20]),
    ]

    def act_malformed(self):
        if self.rng.random() < 0.25:
            # Not the daemon's members: no answer by design.
            member, iface = self.rng.choice([("Frobnicate", None), ("Set", self.h.PROPS),
                                             ("Introspect", "org.freedesktop.DBus.Introspectable"),
                                             ("Claim", "com.vorlen.other")])
            self.call(member, "", [], iface=iface, expect_reply=False)
            return
        member, sig, args = self.rng.choice(self.MALFORMED)
        path = self.rng.choice([None, None, "/", "/com/vorlen/x"])
        r = self.call(member, sig, args, path=path)
        # The bus library reads the leading arguments and lets extra ones be:
        # such a call starts a run like any other.
        if r == ("ok", None) and member == "Enroll":
            self.runs.accepted(ENROLL, args[0], args[1])
        elif r == ("ok", None) and member == "Verify":
            self.runs.accepted(VERIFY)

    def act_vanishing_client(self):
        """A client that sends a call and disconnects before its answer."""
        member, sig, args = self.rng.choice([
            ("ListFingers", "s", [self.rng.choice(USERS)]), ("GetAll", "s", [""]),
            ("StopEnroll", "", []), ("StopVerify", "", []), ("Enroll", "s", ["bad"]),
            ("DeleteFinger", "ss", ["nobody", "none"])])
        conn = dbus.bus.BusConnection(self.bus_proc.address)
        iface = self.h.PROPS if member == "GetAll" else self.h.IFACE
        msg = dbus.lowlevel.MethodCallMessage(self.h.BUS_NAME, self.h.PATH, iface, member)
        if sig:
            msg.append(*args, signature=sig)
        conn.send_message(msg)
        conn.flush()
        conn.close()
        self.calls += 1
        self.log("vanishing client: %s" % member)

    # ---- sensor events -----------------------------------------------------

    def fault(self, name):
        self.faults[name] = self.faults.get(name, 0) + 1

    def act_sensor(self):
        r = self.rng.random()
        if r < 0.25:
            self.sensor("lift")
        elif r < 0.45:
            self.sensor("place-finger", self.rng.choice(STRANGERS + list(range(30))))
        elif r < 0.75:
            kind = self.rng.choice(["short", "stall", "ioerror"])
            self.sensor("fault", kind)
            self.fault(kind)
        elif r < 0.85:
            ms = self.rng.choice([200, 1000, 2900, 3500])
            self.sensor("delay", ms)
            self.fault("delay")
        elif r < 0.92:
            self.sensor("hold-writes", "on")
            self.fault("held-writes")
            self.pump(self.rng.uniform(0.1, 4.0))
            self.sensor("hold-writes", "off")
        else:
            self.sensor("unplug")
            self.fault("unplug")
            self.plugged = False
            self.pump(self.rng.uniform(0.0, 3.0))
            if self.rng.random() < 0.5:
                self.act_claim(False)
            self.sensor("replug")
            self.plugged = True
        self.log("sensor event %.2f" % r)

    # ---- checkpoints -------------------------------------------------------

    def end_open_run(self, grace=0.0):
        """Waits `grace` seconds for the open run to end by itself, then stops
        it, and waits for its final signal."""
        self.pump()
        grace_end = time.monotonic() + grace
        while self.runs.open_run() is not None and time.monotonic() < grace_end:
            self.pump(0.1)
        deadline = time.monotonic() + FINAL_WAIT
        stopped = set()
        self.pump()
        while self.runs.open_run() is not None and time.monotonic() < deadline:
            for member in {m for m, owed in self.runs.current.items() if owed} - stopped:
                self.call("StopEnroll" if member == ENROLL else "StopVerify")
                stopped.add(member)
            self.pump(0.1)
        run = self.runs.open_run()
        if run is not None:
            self.violation("no final %s within %.0f s of its stop" % (run, FINAL_WAIT))
            self.runs.forget()

    def checkpoint(self):
        self.sensor("hold-writes", "off")
        self.sensor("fault", "none")
        if not self.plugged:
            self.sensor("replug")
            self.plugged = True
        self.end_open_run()
        # The sensor may need a moment after a replug before a claim works.
        deadline = time.monotonic() + 15
        while True:
            if self.call("Claim", "sb", ["soak", True]) == ("ok", None):
                self.claimed = True
                break
            if time.monotonic() > deadline:
                self.violation("Claim keeps failing on a plugged sensor")
                break
            self.pump(1.0)
        self.book_completed()
        self.pump(0.5)       # let a finished worker's thread go
        for d in self.store.differences():
            self.violation(d)
            # Take the disk as it is from here, so one fault is told once.
        found, _ = self.store.on_disk()
        self.store.fingers = {u: set(fs) for u, fs in found.items()}
        s = soak_probe.sample(self.pid)
        if s is not None:
            self.samples.append(s)
            self.log("sample rss=%d fds=%d threads=%d" % s)

    def warm_up(self):
        """One enrollment, a match and a miss before the first sample: the
        matching library's buffers and the workers' malloc arena come with
        the first real run and are no growth."""
        self.call("Claim", "sb", ["soak", True])
        self.claimed = True
        for member, call, generated in ((ENROLL, ("Enroll", "ss", ["warm", "up"]), 60),
                                        (VERIFY, ("Verify", "s", ["any"]), 60),
                                        (VERIFY, ("Verify", "s", ["any"]), STRANGERS[0])):
            self.impression += 1
            # An enrollment needs differing impressions, which the sensor
            # hands out in turn when none is named.
            self.sensor("place-finger", generated,
                        *([] if member == ENROLL else [self.impression]))
            if self.call(*call) == ("ok", None):
                self.runs.accepted(member, "warm", "up")
            self.end_open_run(FINAL_WAIT + 30)
        self.call("DeleteAllFingers", "s", ["warm"])
        self.runs.completed = []

    # ---- the run -----------------------------------------------------------

    ACTIONS = [("enroll", 14), ("verify", 14), ("stop", 8), ("claim", 4), ("list", 8),
               ("rename", 5), ("delete", 5), ("properties", 6), ("malformed", 6),
               ("vanishing_client", 5), ("sensor", 14), ("wait", 10)]

    def act_wait(self):
        self.pump(self.rng.uniform(0.2, 4.0))

    def step(self):
        names = [a for a, _ in self.ACTIONS]
        weights = [w for _, w in self.ACTIONS]
        action = self.rng.choices(names, weights)[0]
        if action in ("enroll", "verify") and not self.claimed and self.rng.random() < 0.7:
            self.act_claim(True)
        getattr(self, "act_" + action)()
        self.pump()
        # Store changes the workers make become expected once their run ends.
        if self.runs.open_run() is None:
            self.book_completed()

    def book_completed(self):
        for t in self.runs.completed:
            self.store.add(*t)
        self.runs.completed = []

    def before_store_change(self):
        """An enrollment that ended (its final signal may still be on its
        way) saved its finger before this call's answer: book it first, or
        booking it later would bring back a finger this call removed."""
        self.pump()
        self.book_completed()

    def run(self):
        self.t0 = time.monotonic()
        end = self.t0 + self.args.seconds
        self.warm_up()
        self.checkpoint()
        start_sample = self.samples[0] if self.samples else None
        next_check = time.monotonic() + CHECKPOINT_SECONDS
        try:
            while time.monotonic() < end and self.alive():
                self.step()
                if time.monotonic() >= next_check:
                    self.checkpoint()
                    next_check = time.monotonic() + CHECKPOINT_SECONDS
        except Exception:
            # A fault of the script itself still ends with the summary.
            self.violation("soak script error:\n" + traceback.format_exc())
        if self.alive():
            self.checkpoint()
        if self.runs.unended():
            self.violation("%d runs without a final signal" % self.runs.unended())
        for g in soak_probe.growth(self.samples, WARMUP_CHECKPOINTS):
            self.violation(g)
        self.summary(start_sample, time.monotonic() - self.t0)

    def summary(self, first, seconds):
        last = self.samples[-1] if self.samples else None
        started = self.runs.started
        ended = self.runs.ended
        fmt = lambda s: "rss=%d KiB fds=%d threads=%d" % s if s else "n/a"  # noqa: E731
        print("soak summary (seed %d, %.0f s, %d checkpoints)" % (self.args.seed, seconds,
                                                                   len(self.samples)))
        print("  calls made:          %d" % self.calls)
        print("  runs started:        enroll %d, verify %d (incl. %d enroll refusals by signal)"
              % (started[ENROLL], started[VERIFY], self.runs.refused))
        print("  runs ended:          enroll %d, verify %d" % (ended[ENROLL], ended[VERIFY]))
        print("  faults injected:     %d (%s)" % (sum(self.faults.values()), ", ".join(
            "%s %d" % kv for kv in sorted(self.faults.items()))))
        print("  templates at end:    %d" % self.store.count())
        print("  daemon deaths:       %d" % self.deaths)
        print("  unanswered calls:    %d" % self.unanswered)
        print("  torn templates:      %d" % self.torn)
        print("  start:               %s" % fmt(first))
        print("  end:                 %s" % fmt(last))
        if self.samples:
            print("  peak:                rss=%d KiB fds=%d threads=%d"
                  % tuple(max(s[i] for s in self.samples) for i in range(3)))
        print("  violations:          %d" % len(self.violations))
        for v in self.violations[:20]:
            print("    " + v.splitlines()[0])

    def close(self):
        self.watch_stop.set()
        self.watcher.join()
        self.signals.close()
        self.daemon.dir_keep = self.args.keep or bool(self.violations)
        if self.daemon.dir_keep:
            keep = os.path.join(self.dir, "daemon")
            shutil.copytree(self.daemon.dir, keep, dirs_exist_ok=True)
            print("soak: trace, log and templates kept in %s" % self.dir)
        self.daemon.stop()
        self.bus_proc.stop()
        self.trace.close()
        if not self.daemon.dir_keep:
            shutil.rmtree(self.dir, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seconds", type=float,
                        default=float(os.environ.get("SOAK_SECONDS", 1800)))
    parser.add_argument("--seed", type=int, default=int(os.environ.get("SOAK_SEED", 2547)))
    parser.add_argument("--build", default=os.environ.get("VORL2547_BUILD",
                                                          os.path.join(REPO, "build")))
    parser.add_argument("--keep", action="store_true", help="keep the run directory")
    args = parser.parse_args()
    soak = Soak(args, os.path.abspath(args.build))
    try:
        soak.run()
    finally:
        soak.close()
    sys.exit(1 if soak.violations else 0)


if __name__ == "__main__":
    main()
