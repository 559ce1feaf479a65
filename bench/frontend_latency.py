#!/usr/bin/python3
"""What a login waits for, on the emulated sensor:

1. bus activation: from the first call to a daemon that is not running (the
   bus starts it, as the shipped activation file has systemd do) to the
   first capture command the sensor receives, with the calls the PAM module
   makes (ListFingers, Claim, VerifyUser); dbus-daemon starts the daemon
   itself here, so systemd's own start-up is not included;
2. fprintd-verify -f any through vorl2547-fprintd for a user with 3
   enrolled fingers: from the frame's arrival to the "Verify result" line;
3. the same frame to the daemon's VerifyStatus of VerifyUser, without the
   front end.

  bench/frontend_latency.py [--build DIR] [--runs N] [--trials N]
"""

import argparse
import os
import select
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(REPO, "tests", "blackbox"))
sys.path.insert(0, os.path.join(REPO, "tests", "compat"))

import dbus  # noqa: E402
from dbus.mainloop.glib import DBusGMainLoop  # noqa: E402
from gi.repository import GLib  # noqa: E402

from privbus import BUS_CONFIG  # noqa: E402

IFACE = "com.vorlen.fprint"
BEGIN_VERIFY = "ea04000000000" + "4ea"
FINGERS = [("right-index-finger", 3), ("left-thumb", 5), ("right-thumb", 11)]
UNSEEN = 40


def sensor_says(path, command):
    """One control command on the emulated sensor's socket; its answer."""
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    try:
        s.connect(path)
        s.sendall(command.encode() + b"\n")
        data = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                return data.decode()
            data += chunk
    finally:
        s.close()


def running(pid):
    """Alive and not yet a zombie waiting for its parent."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except FileNotFoundError:
        return False


def summary(xs):
    xs = sorted(xs)
    return "median %6.1f ms  min %6.1f ms  max %6.1f ms  (%d runs)" % (
        statistics.median(xs), xs[0], xs[-1], len(xs))


# ------------------------------------------------------------------ activation
def one_activation(build, tmp):
    templates = os.path.join(tmp, "templates")
    os.makedirs(os.path.join(templates, "alice"))
    with open(os.path.join(templates, "alice", "right-index-finger.Data"), "wb") as f:
        f.write(bytes(28000))
    sock = os.path.join(tmp, "bus")
    sensor = os.path.join(tmp, "sensor")
    services = os.path.join(tmp, "services")
    os.mkdir(services)
    address = "unix:path=" + sock
    # The system bus hands an activated service almost no environment.
    with open(os.path.join(services, "com.vorlen.fprint.service"), "w") as f:
        f.write("[D-BUS Service]\nName=com.vorlen.fprint\nUser=root\n"
                "Exec=/usr/bin/env DBUS_SYSTEM_BUS_ADDRESS=%s VORL2547_TEMPLATE_DIR=%s "
                "VORL2547_LOG_FILE=%s %s --socket %s -- %s\n"
                % (address, templates, os.path.join(tmp, "log"),
                   os.path.join(build, "sim", "vorl2547-sim"), sensor,
                   os.path.join(build, "service", "vorl2547d")))
    config = os.path.join(tmp, "bus.conf")
    with open(config, "w") as f:
        f.write(BUS_CONFIG.format(socket=sock, policy=os.path.join(REPO, "data", "com.vorlen.fprint.conf"))
                .replace("</busconfig>", "  <servicedir>%s</servicedir>\n</busconfig>" % services))
    bus = subprocess.Popen(["dbus-daemon", "--config-file=" + config, "--nofork", "--print-address"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    sim = None
    try:
        bus.stdout.readline()
        conn = dbus.bus.BusConnection(address)

        def call(member, sig, *args):
            return conn.call_blocking(IFACE, "/com/vorlen", IFACE, member, sig, list(args), timeout=30)

        t0 = time.monotonic()
        call("ListFingers", "s", "alice")
        t_answer = time.monotonic()
        # The daemon's parent is the emulated sensor, which ends them both.
        pid = conn.call_blocking("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                 "GetConnectionUnixProcessID", "s", [IFACE])
        with open("/proc/%d/stat" % pid) as f:
            sim = int(f.read().rsplit(")", 1)[1].split()[1])
        call("Claim", "sb", "", True)
        call("VerifyUser", "ss", "alice", "any")
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if BEGIN_VERIFY in sensor_says(sensor, "commands").lower():
                break
            time.sleep(0.001)
        t1 = time.monotonic()
        call("StopVerify", "")
        call("Claim", "sb", "", False)
        conn.close()
        return (t_answer - t0) * 1000.0, (t1 - t0) * 1000.0
    finally:
        if sim is not None:
            os.kill(sim, 15)
            deadline = time.monotonic() + 5
            while running(sim) and time.monotonic() < deadline:
                time.sleep(0.05)
        bus.terminate()
        bus.wait()
        bus.stdout.close()


def activation(build, runs):
    first, capture = [], []
    for _ in range(runs):
        tmp = tempfile.mkdtemp(prefix="vorl2547-activation-")
        try:
            a, c = one_activation(build, tmp)
            first.append(a)
            capture.append(c)
        finally:
            shutil.rmtree(tmp, ignore_errors=True)
    print("bus activation (dbus-daemon starts the daemon under the emulated sensor):")
    print("  first call answered               " + summary(first))
    print("  first capture command received    " + summary(capture))
    print("  goal: at most 300 ms to the capture command -- %s"
          % ("met" if statistics.median(capture) <= 300 else "NOT met"))


# ------------------------------------------------------------------ fprintd-verify
def verify_result_ms(stack, user, place):
    """fprintd-verify -f any USER; frame arrival to its "Verify result" line."""
    stack.sensor("lift")
    # Without -f, fprintd-verify names one of the user's fingers itself.
    proc = subprocess.Popen(["stdbuf", "-oL", "fprintd-verify", "-f", "any", user], env=stack.env(),
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        deadline = time.monotonic() + 15
        while stack.sensor.state()["capturing"] != "1":
            if time.monotonic() > deadline:
                raise RuntimeError("fprintd-verify never started capturing")
            time.sleep(0.002)
        t0 = time.monotonic()
        sensor_says(stack.sensor.socket, " ".join(map(str, place)))
        line = ""
        while "Verify result:" not in line:
            ready, _, _ = select.select([proc.stdout], [], [], 15)
            if not ready:
                raise RuntimeError("no result from fprintd-verify")
            line = proc.stdout.readline()
            if not line:
                raise RuntimeError("fprintd-verify ended without a result")
        t1 = time.monotonic()
        return (t1 - t0) * 1000.0, line.strip()
    finally:
        proc.wait(timeout=30)
        proc.stdout.close()


def daemon_result_ms(address, sensor, user, place):
    """The daemon's VerifyUser alone: frame arrival to its VerifyStatus."""
    conn = dbus.bus.BusConnection(address, mainloop=DBusGMainLoop())
    got = []
    conn.add_signal_receiver(lambda i, s, t: got.append((time.monotonic(), int(s), str(t))),
                             dbus_interface=IFACE, signal_name="VerifyStatus")
    call = lambda m, sig, *a: conn.call_blocking(IFACE, "/com/vorlen", IFACE, m, sig, list(a), timeout=30)  # noqa: E731
    try:
        sensor("lift")
        call("Claim", "sb", "", True)
        call("VerifyUser", "ss", user, "any")
        while sensor.state()["capturing"] != "1":
            time.sleep(0.002)
        t0 = time.monotonic()
        sensor_says(sensor.socket, " ".join(map(str, place)))
        ctx = GLib.MainContext.default()
        deadline = t0 + 15
        while not got and time.monotonic() < deadline:
            ctx.iteration(False) or time.sleep(0.0005)
        if got and got[0][1] == 3:
            call("StopVerify", "")
        call("Claim", "sb", "", False)
        return (got[0][0] - t0) * 1000.0, got[0][2]
    finally:
        conn.close()


def frontend(trials):
    import frontend as fe  # noqa: E402  (the compat tests' stack: bus, daemon, front end)

    tmp = tempfile.mkdtemp(prefix="vorl2547-fprintd-bench-")
    stack = fe.Stack(tmp)
    try:
        for finger, generated in FINGERS:
            stack.enroll("alice", finger, generated)
        through_frontend, matches, daemon_only, results = [], [], [], {}
        for t in range(trials):
            _, generated = FINGERS[t % len(FINGERS)]
            ms, line = verify_result_ms(stack, "alice", ("place-finger", generated, UNSEEN + t))
            through_frontend.append(ms)
            if "verify-match" in line:
                matches.append(ms)
            results[line] = results.get(line, 0) + 1
            ms, _ = daemon_result_ms(stack.address, stack.sensor, "alice",
                                     ("place-finger", generated, UNSEEN + 100 + t))
            daemon_only.append(ms)
    finally:
        stack.close()
        shutil.rmtree(tmp, ignore_errors=True)
    print("a verification naming its user, 3 fingers enrolled, frame arrival to the result:")
    print("  fprintd-verify -f any alice       " + summary(through_frontend))
    if matches:
        print("    of which matches                " + summary(matches))
    print("  the daemon's VerifyUser signal    " + summary(daemon_only))
    # A touch the library does not recognise is answered with a retry: that
    # answer is timed too.
    print("  first answers: %s" % ", ".join("%s x%d" % (k.split(": ", 1)[-1], n) for k, n in sorted(results.items())))
    print("  goal: at most 40 ms through fprintd-verify -- %s"
          % ("met" if statistics.median(through_frontend) <= 40 else "NOT met"))


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.environ.get("BUILD", os.path.join(REPO, "build")))
    ap.add_argument("--runs", type=int, default=7, help="bus activations")
    ap.add_argument("--trials", type=int, default=15, help="verifications")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    os.environ["VORL2547_BUILD"] = build
    activation(build, args.runs)
    if shutil.which("fprintd-verify") is None:
        print("fprintd-verify: skipped, fprintd's tools are not installed")
    else:
        frontend(args.trials)


if __name__ == "__main__":
    sys.exit(main())
