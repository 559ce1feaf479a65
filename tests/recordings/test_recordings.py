"""Replays every recording of this directory against the real daemon and
transport, as the open fingerprint stack's driver tests replay theirs: the
recorded device is put on a umockdev testbed by umockdev-run, the daemon
runs on it on a private bus, and vorl2547-ctl repeats what was done while
recording. A directory dropped in here is a test; no code changes.

A recording directory holds:
  device.umockdev       the sensor's description (umockdev-record /dev/bus/usb/BBB/DDD)
  sensor.ioctl[.xz]     the conversation (umockdev-record --ioctl, or the emulator's --record)
  expected              what was done and what came of it, one line each:
                          needs NAME         replay recording NAME first (its fingers carry over)
                          run STATUS ARGS    vorl2547-ctl ARGS exits with STATUS ({tmp}: a scratch dir)
                          output TEXT        ... and says TEXT
"""

import lzma
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "blackbox"))

from conftest import BUILD, Daemon, daemon_argv  # noqa: E402
from privbus import PrivateBus  # noqa: E402

CTL = os.path.join(BUILD, "ctl", "vorl2547-ctl")
POLICY_FILE = os.path.join(HERE, "..", "..", "data", "com.vorlen.fprint.conf")
RECORDINGS = sorted(d for d in os.listdir(HERE) if os.path.isfile(os.path.join(HERE, d, "expected")))


def read_expected(name):
    needs, runs = None, []
    with open(os.path.join(HERE, name, "expected")) as f:
        for line in f:
            word, _, rest = line.strip().partition(" ")
            if word == "needs":
                needs = rest
            elif word == "run":
                status, _, args = rest.partition(" ")
                runs.append([int(status), args.split(), []])
            elif word == "output":
                runs[-1][2].append(rest)
    return needs, runs


def read_log(name):
    path = os.path.join(HERE, name, "sensor.ioctl")
    if os.path.exists(path + ".xz"):
        with lzma.open(path + ".xz", "rt") as f:
            return f.read().splitlines()
    with open(path) as f:
        return f.read().splitlines()


def linear(lines):
    """The conversation in the order it happened, one URB a line.

    umockdev-record keeps one node for equal OUT URBs and hangs each IN URB
    under the last one sent: a sensor that gets the same begin-capture frame
    before every image comes out as one node with every image below it, which
    a replay would answer with the first image each time. Unfolded, each
    image follows its own copy of the command again. IN URBs that ended
    discarded (status -2: a receive timed out while no finger was on the
    sensor) only say when, and a replay answers at once, so they go.
    """
    header = [line for line in lines if line.startswith("@")]
    nodes = []  # [depth, line, children]
    stack = []
    for line in lines:
        if not line.strip() or line.startswith(("@", "#")):
            continue
        depth = len(line) - len(line.lstrip(" "))
        node = [depth, line.strip(), []]
        while stack and stack[-1][0] >= depth:
            stack.pop()
        (stack[-1][2] if stack else nodes).append(node)
        stack.append(node)

    def fields(node):
        return node[1].split()

    def is_out(node):
        f = fields(node)
        return f[0].startswith("USBDEVFS_REAPURB") and not int(f[3]) & 0x80

    def discarded(node):
        f = fields(node)
        return f[0].startswith("USBDEVFS_REAPURB") and int(f[3]) & 0x80 and int(f[4]) == -2

    out = []

    def walk(node):
        if not discarded(node):
            out.append(node[1])
        for i, child in enumerate(node[2]):
            if i and is_out(node):
                out.append(node[1])
            walk(child)

    for node in nodes:
        walk(node)
    return header, out


def replay(name, work, address, store):
    """One recording on its own testbed; returns what went wrong, or ""."""
    header, urbs = linear(read_log(name))
    dev = header[0].split()[1] if header else "/dev/bus/usb/001/002"
    ioctl = os.path.join(work, name + ".ioctl")
    with open(ioctl, "w") as f:
        f.write("\n".join(header + urbs) + "\n")
    cmd = ["umockdev-run", "-d", os.path.join(HERE, name, "device.umockdev"), "-i", "%s=%s" % (dev, ioctl),
           "--", "/usr/bin/python3", os.path.abspath(__file__), name, address, store, work]
    out = subprocess.run(cmd, capture_output=True, text=True, timeout=300)
    return "" if out.returncode == 0 else out.stdout + out.stderr


def replay_chain(name, work, address, store):
    needs, _ = read_expected(name)
    return (replay_chain(needs, work, address, store) if needs else "") or replay(name, work, address, store)


def test_recording_replays(recording):
    work = tempfile.mkdtemp(prefix="vorl2547-replay-")
    store = os.path.join(work, "templates")
    os.mkdir(store, 0o700)
    try:
        with PrivateBus(POLICY_FILE) as bus:
            failure = replay_chain(recording, work, bus.address, store)
        assert not failure, failure
    finally:
        shutil.rmtree(work, ignore_errors=True)


def test_a_recorders_tree_unfolds_into_the_conversation():
    # As umockdev-record writes three captures, the first of them timed out:
    # one begin-capture node with every answer below it.
    out, timeout, one, two = ("USBDEVFS_REAPURBNDELAY 0 3 1 0 0 8 8 0 EA030000000003EA",
                              "USBDEVFS_REAPURBNDELAY 0 3 129 -2 0 13824 0 0 ",
                              "USBDEVFS_REAPURBNDELAY 0 3 129 0 0 13824 2 0 0102",
                              "USBDEVFS_REAPURBNDELAY 0 3 129 0 0 13824 2 0 0304")
    end = "USBDEVFS_REAPURBNDELAY 0 3 1 0 0 8 8 0 EA020000000002EA"
    header, urbs = linear(["@DEV /dev/bus/usb/001/007", "USBDEVFS_GET_CAPABILITIES 0 17000000", out,
                           " " + timeout, " " + one, " " + two, end])
    assert header == ["@DEV /dev/bus/usb/001/007"]
    assert urbs == ["USBDEVFS_GET_CAPABILITIES 0 17000000", out, out, one, out, two, end]


def pytest_generate_tests(metafunc):
    if "recording" in metafunc.fixturenames:
        metafunc.parametrize("recording", RECORDINGS)


def run_steps(name, address, store, work):
    """Inside the testbed: the daemon, then each recorded run of vorl2547-ctl."""
    import dbus
    daemon = Daemon(address, daemon_argv())
    daemon.env["VORL2547_TEMPLATE_DIR"] = store
    daemon.start()
    problems = []
    try:
        daemon.wait_owned(dbus.bus.BusConnection(address))
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=address)
        for status, args, words in read_expected(name)[1]:
            argv = [a.replace("{tmp}", work) for a in args]
            out = subprocess.run([CTL] + argv, env=env, capture_output=True, text=True, timeout=120)
            said = out.stdout + out.stderr
            if out.returncode != status or not all(w in said for w in words):
                problems.append("%s: vorl2547-ctl %s exited %d (recorded %d), said:\n%s" %
                                (name, " ".join(args), out.returncode, status, said))
        if problems:
            problems.append("daemon log:\n" + daemon.log()[-3000:])
    finally:
        daemon.stop()
    problems += ["%s: daemon warned: %s" % (name, w) for w in daemon.warnings]
    print("\n".join(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(run_steps(*sys.argv[1:5]))
