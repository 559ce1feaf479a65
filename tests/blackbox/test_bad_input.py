"""Bad input at the real daemon on the emulated sensor: every member with
wrong argument types and counts and with extra arguments, strings of awkward
lengths, hostile names, ids that are system paths, a burst of calls and calls
from an unprivileged user under the shipped policy.

Each input's reply is recorded. The daemon must answer every call of its own
members, never die, and never touch anything outside its template
directory. The module ends by printing the counts.
"""

import json
import os
import subprocess
import time

import dbus
import pytest
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

from conftest import (BUS_NAME, CALL_TIMEOUT, ERR_FAILED, ERR_INVALID_ARGS, ERR_NO_REPLY, IFACE,
                      PATH, PROPS, call, wait_until)
from emulated_sensor import daemon_wrapper, sensor, sensor_dir  # noqa: F401  (fixtures)

TEMPLATE_SIZE = 28000

# member: (interface, in-signature, arguments that are accepted)
MEMBERS = {
    "Claim": (IFACE, "sb", ["tester", True]),
    "Enroll": (IFACE, "ss", ["alice", "thumb"]),
    "StopEnroll": (IFACE, "", []),
    "Verify": (IFACE, "s", ["any"]),
    "VerifyUser": (IFACE, "ss", ["alice", "any"]),
    "StopVerify": (IFACE, "", []),
    "DeleteFinger": (IFACE, "ss", ["alice", "nothere"]),
    "DeleteAllFingers": (IFACE, "s", ["nobody-stored"]),
    "ListFingers": (IFACE, "s", ["alice"]),
    "RenameFinger": (IFACE, "sss", ["alice", "nothere", "other"]),
    "Get": (PROPS, "ss", [PROPS, "Name"]),
    "GetAll": (PROPS, "s", [IFACE]),
}
# Members whose run would keep going after the call: each such input is
# followed by the matching stop, so inputs do not see each other's workers.
FOLLOW_UP = {"Enroll": "StopEnroll", "Verify": "StopVerify", "VerifyUser": "StopVerify"}

LENGTHS = [0, 63, 64, 255, 4096, 1000000]
HOSTILE_NAMES = ["a/b", "/", "..", ".", "../alice", "x/../..", "%n%n%n%n", "%s%s%s%s%x",
                 "line\nbreak", "\n", "tab\tname", "Łódź", "指纹", "\U0001F446finger",
                 "é" * 40, " ", ".hidden", "-rf"]
SYSTEM_PATH_IDS = ["/etc", "../../../etc/passwd", "/etc/passwd", "/", "../..", "/usr/share",
                   "/var/log", "/proc/self", "/dev/null", "~root"]
# Files the system-path ids name; none of them may change.
WATCHED_SYSTEM_FILES = ["/etc/passwd", "/etc/shadow", "/etc/group", "/etc/hostname"]
# Directories where a template named by an escaping path would land.
WATCHED_SYSTEM_DIRS = ["/", "/etc", "/tmp", "/usr/share", "/var/log", "/dev"]

# Counts for the closing line.
COUNTS = {"inputs": 0, "burst": 0, "burst_seconds": None, "deaths": 0, "touched_outside": 0}
REPLIES = []

# dbus-daemon refuses a connection more than a fixed number of calls waiting
# for replies, so the table goes out in slices of this size.
SLICE = 100
# dbus-python marshals bool and int32 as given.
WRONG = {"s": dbus.Int32(5), "b": "true"}


class Input:
    def __init__(self, kind, member, signature, args, interface=None, expect=None):
        self.kind = kind
        self.member = member
        self.interface = interface if interface is not None else MEMBERS[member][0]
        self.signature = signature
        self.args = args
        self.expect = expect  # an error name, "reply", or None for "any answer"
        self.outcome = None

    def describe(self):
        shown = [a if not isinstance(a, str) or len(a) < 40 else "<%d bytes>" % len(a.encode())
                 for a in self.args]
        return "%s %s(%s) %r" % (self.kind, self.member, self.signature, shown)


def wrong_type_inputs():
    out = []
    for member, (_, sig, good) in MEMBERS.items():
        n = len(sig)
        if n:
            out.append(Input("no-args", member, "", [], expect=ERR_INVALID_ARGS))
            if n > 1:
                out.append(Input("too-few", member, sig[:-1], good[:-1], expect=ERR_INVALID_ARGS))
            for i in range(n):
                sig2 = sig[:i] + ("i" if sig[i] == "s" else "s") + sig[i + 1:]
                args = list(good)
                args[i] = WRONG[sig[i]]
                out.append(Input("wrong-type", member, sig2, args, expect=ERR_INVALID_ARGS))
            out.append(Input("array", member, "as", [list(map(str, good))],
                             expect=ERR_INVALID_ARGS))
            out.append(Input("variant", member, "v" + sig[1:],
                             [dbus.String(good[0], variant_level=1)] + good[1:],
                             expect=ERR_INVALID_ARGS))
        # Arguments beyond those listed are not examined.
        out.append(Input("extra", member, sig + "s", good + ["extra"]))
        out.append(Input("extra", member, sig + "iay", good + [dbus.Int32(7), dbus.ByteArray(b"x")]))
    return out


def string_inputs():
    """Each string argument of each member, in turn, at each awkward length
    and with each hostile name or system path (ids only)."""
    out = []
    for member, (_, sig, good) in MEMBERS.items():
        for i, t in enumerate(sig):
            if t != "s":
                continue
            values = [("length-%d" % n, "x" * n) for n in LENGTHS]
            values += [("name", v) for v in HOSTILE_NAMES]
            if i == 0 and member not in ("Verify", "Get", "GetAll"):
                values += [("system-path", v) for v in SYSTEM_PATH_IDS]
            for kind, v in values:
                args = list(good)
                args[i] = v
                out.append(Input(kind, member, sig, args, expect=expect_for(member, i, v)))
    return out


def is_safe_name(v):
    return (0 < len(v.encode()) <= 63 and "/" not in v and v not in (".", "..")
            and not any(ord(c) < 0x20 or ord(c) == 0x7f for c in v))


def expect_for(member, index, value):
    """What the store must answer for a name that can never be a path part."""
    if is_safe_name(value):
        return None
    if member in ("DeleteFinger", "RenameFinger"):
        return ERR_FAILED
    # An empty finger means every finger of the user.
    if member == "VerifyUser" and not (index == 1 and value == ""):
        return ERR_FAILED
    if member == "ListFingers":
        return "reply"
    return None


def no_interface_inputs():
    return [Input("no-interface", m, sig, good, interface="")
            for m, (_, sig, good) in MEMBERS.items()]


class AsyncCaller:
    """Sends many calls at once and collects their answers while a GLib main
    loop runs; the daemon works them off at its own pace."""

    def __init__(self, address):
        self.conn = dbus.bus.BusConnection(address, mainloop=DBusGMainLoop())

    def close(self):
        self.conn.close()

    def run(self, inputs, timeout):
        for start in range(0, len(inputs), SLICE):
            part = inputs[start:start + SLICE]
            for inp in part:
                self._send(inp, timeout)
            ctx = GLib.MainContext.default()
            deadline = time.monotonic() + timeout + 5
            while any(i.outcome is None for i in part) and time.monotonic() < deadline:
                ctx.iteration(True)

    def _send(self, inp, timeout):
        def on_reply(*values):
            inp.outcome = ("reply", values)

        def on_error(e):
            inp.outcome = ("error", e.get_dbus_name())

        self.conn.call_async(BUS_NAME, PATH, inp.interface or None, inp.member, inp.signature,
                             inp.args, on_reply, on_error, timeout=timeout)


def stat_key(path):
    try:
        st = os.lstat(path)
    except FileNotFoundError:
        return None
    return (st.st_ino, st.st_size, st.st_mtime_ns, st.st_mode)


def snapshot_tree(root, skip):
    """Every entry under root, with inode, size, mtime and mode, except the
    paths in skip (and what lies below them)."""
    snap = {}
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames[:] = [d for d in dirnames if os.path.join(dirpath, d) not in skip]
        for name in dirnames + filenames:
            p = os.path.join(dirpath, name)
            if p not in skip:
                snap[p] = stat_key(p)
    return snap


def new_data_files(since):
    """*.Data entries made after `since` in the places an escaping template
    path could reach."""
    found = []
    for d in WATCHED_SYSTEM_DIRS:
        try:
            names = os.listdir(d)
        except OSError:
            continue
        for name in names:
            p = os.path.join(d, name)
            key = stat_key(p)
            if ".Data" in name and key and key[2] >= since:
                found.append(p)
    return found


class Outside:
    """What the daemon could touch besides its template directory: the
    directory holding it (with decoy templates one level up) and the system
    files that the path-like ids name."""

    def __init__(self, daemon):
        self.daemon = daemon
        self.root = daemon.dir
        self.skip = {daemon.template_dir, daemon.log_file, daemon.stdout_file}
        for rel in ("victim.Data", "alice/left.Data", "outside/left.Data", "etc/passwd"):
            write_template(os.path.join(self.root, rel))
        self.since = time.time_ns()
        self.tree = snapshot_tree(self.root, self.skip)
        self.system = {p: stat_key(p) for p in WATCHED_SYSTEM_FILES}

    def changes(self):
        changed = []
        tree = snapshot_tree(self.root, self.skip)
        changed += [p for p in set(tree) | set(self.tree) if tree.get(p) != self.tree.get(p)]
        changed += [p for p in WATCHED_SYSTEM_FILES if stat_key(p) != self.system[p]]
        changed += new_data_files(self.since)
        return sorted(changed)


def write_template(path):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(bytes(range(256)) * (TEMPLATE_SIZE // 256) + bytes(TEMPLATE_SIZE % 256))


def record(inputs):
    COUNTS["inputs"] += len(inputs)
    REPLIES.extend((i.describe(), i.outcome) for i in inputs)


def assert_unharmed(daemon, outside):
    """Counts for the closing summary, then fails if the daemon died or
    anything outside the template store changed."""
    if daemon.proc.poll() is not None:
        COUNTS["deaths"] += 1
    changed = outside.changes()
    COUNTS["touched_outside"] += len(changed)
    assert daemon.proc.poll() is None, "daemon died:\n" + daemon.stdout()[-3000:]
    assert changed == []


@pytest.fixture(scope="module", autouse=True)
def closing_counts(request):
    yield
    line = ("bad input: %d inputs tried (%d table calls, %d burst calls, worked off in %s s), "
            "%d daemon deaths, %d files touched outside the template directory" %
            (COUNTS["inputs"] + COUNTS["burst"], COUNTS["inputs"], COUNTS["burst"],
             COUNTS["burst_seconds"], COUNTS["deaths"], COUNTS["touched_outside"]))
    # Shown even when every test passed: the counts go in the closing note.
    capture = request.config.pluginmanager.get_plugin("capturemanager")
    with capture.global_and_fixture_disabled():
        print("\n" + line)
    out = os.environ.get("VORL2547_BAD_INPUT_REPORT")
    if out:
        with open(out, "w") as f:
            json.dump({"counts": COUNTS, "replies": [[d, repr(o)] for d, o in REPLIES]}, f,
                      indent=1)


@pytest.fixture(scope="class")
def outside(daemon):
    store = os.path.join(daemon.template_dir, "alice")
    write_template(os.path.join(store, "left.Data"))
    write_template(os.path.join(store, "right.Data"))
    return Outside(daemon)


@pytest.fixture(scope="class")
def caller(private_bus, daemon):
    c = AsyncCaller(private_bus.address)
    yield c
    c.close()


# A full slice waits up to SLICE passes of the loop (50 ms each, more under
# the sanitizers) plus the idle second.
SLICE_TIMEOUT = max(CALL_TIMEOUT, 3.0) * 3 + SLICE * 0.05 * (CALL_TIMEOUT / 10)


class TestBadInputTable:
    def run_table(self, inputs, bus, daemon, caller, outside):
        # The claim is the caller's own: the sensor refuses other connections.
        assert call(caller.conn, "Claim", "sb", ["tester", True]) is None
        sent = []
        for inp in inputs:
            sent.append(inp)
            stop = FOLLOW_UP.get(inp.member)
            if stop:
                sent.append(Input("stop", stop, "", []))
        caller.run(sent, SLICE_TIMEOUT)
        record(sent)
        assert_unharmed(daemon, outside)
        unanswered = [i.describe() for i in sent
                      if i.outcome is None or i.outcome == ("error", ERR_NO_REPLY)]
        assert unanswered == []
        wrong = []
        for i in sent:
            got = i.outcome[0] if i.outcome[0] == "reply" else i.outcome[1]
            if i.expect is not None and got != i.expect:
                wrong.append((i.describe(), i.outcome))
        assert wrong == []
        return sent

    def test_wrong_types_counts_and_extra_arguments(self, bus, daemon, caller, outside):
        sent = self.run_table(wrong_type_inputs() + no_interface_inputs(), bus, daemon, caller,
                              outside)
        # Extra arguments change nothing: the same answers as the plain calls.
        extra = [i for i in sent if i.kind == "extra" and i.member == "ListFingers"]
        assert all(i.outcome[0] == "reply" for i in extra)

    def test_awkward_strings_names_and_system_paths(self, bus, daemon, caller, outside):
        self.run_table(string_inputs(), bus, daemon, caller, outside)
        # The store kept what it had: no hostile name reached its files.
        assert sorted(os.listdir(os.path.join(daemon.template_dir, "alice"))) == \
            ["left.Data", "right.Data"]

    def test_still_answers_afterwards(self, bus, daemon):
        assert daemon.proc.poll() is None
        assert sorted(call(bus, "ListFingers", "s", ["alice"])) == ["left", "right"]


# Passed as source text: the checkout may sit where nobody cannot read.
UNPRIVILEGED_SOURCE = r'''
import json, sys
import dbus
calls = json.loads(sys.stdin.read())
bus = dbus.SystemBus()
out = []
types = {"s": dbus.String, "b": dbus.Boolean, "i": dbus.Int32}
for iface, member, sig, args in calls:
    args = [types[t](a) for t, a in zip(sig, args)]
    try:
        v = bus.call_blocking("com.vorlen.fprint", "/com/vorlen", iface or None, member, sig, args,
                              timeout=%(timeout)f)
        out.append(["reply", str(v)])
    except dbus.exceptions.DBusException as e:
        out.append(["error", e.get_dbus_name()])
print(json.dumps(out))
'''


class TestUnprivilegedBadInput:
    """Bad input from a user the shipped policy lets call only Claim, Verify,
    StopVerify, ListFingers and the properties."""

    CALLS = [
        # (interface, member, signature, args, expected)
        (IFACE, "Claim", "s", ["x"], ERR_INVALID_ARGS),
        (IFACE, "Claim", "ib", [1, True], ERR_INVALID_ARGS),
        (IFACE, "Verify", "", [], ERR_INVALID_ARGS),
        (IFACE, "Verify", "i", [4], ERR_INVALID_ARGS),
        (IFACE, "ListFingers", "s", ["../../../etc/passwd"], "reply"),
        (IFACE, "ListFingers", "s", ["/etc"], "reply"),
        (IFACE, "ListFingers", "s", ["x" * 100000], "reply"),
        (IFACE, "ListFingers", "ss", ["alice", "extra"], "reply"),
        (PROPS, "Get", "ss", [PROPS, "x" * 4096], None),
        (PROPS, "Get", "s", [PROPS], ERR_INVALID_ARGS),
        (PROPS, "GetAll", "i", [1], ERR_INVALID_ARGS),
        # Members the policy keeps from this user, whatever the arguments.
        (IFACE, "DeleteAllFingers", "s", ["alice"], "org.freedesktop.DBus.Error.AccessDenied"),
        (IFACE, "DeleteFinger", "i", [1], "org.freedesktop.DBus.Error.AccessDenied"),
        (IFACE, "RenameFinger", "sss", ["alice", "left", "../../x"],
         "org.freedesktop.DBus.Error.AccessDenied"),
        (IFACE, "Enroll", "ss", ["root", "/etc/passwd"], "org.freedesktop.DBus.Error.AccessDenied"),
        (IFACE, "StopEnroll", "s", ["extra"], "org.freedesktop.DBus.Error.AccessDenied"),
    ]

    def test_unprivileged_bad_input(self, private_bus, daemon, outside):
        calls = [[i, m, s, a] for i, m, s, a, _ in self.CALLS]
        env = {"DBUS_SYSTEM_BUS_ADDRESS": private_bus.address, "PYTHONDONTWRITEBYTECODE": "1",
               "PATH": "/usr/bin:/bin"}
        out = subprocess.run(
            ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
             "/usr/bin/python3", "-c", UNPRIVILEGED_SOURCE % {"timeout": CALL_TIMEOUT}],
            input=json.dumps(calls), env=env, capture_output=True, text=True,
            timeout=60 + len(calls) * CALL_TIMEOUT, cwd="/")
        assert out.returncode == 0, out.stderr
        outcomes = json.loads(out.stdout)
        COUNTS["inputs"] += len(calls)
        REPLIES.extend(("unprivileged %s(%s)" % (c[1], c[2]), tuple(o))
                       for c, o in zip(calls, outcomes))
        assert_unharmed(daemon, outside)
        for (_, member, sig, _, expected), (kind, value) in zip(self.CALLS, outcomes):
            assert value != ERR_NO_REPLY, member
            if expected is not None:
                assert (kind if kind == "reply" else value) == expected, (member, sig, value)
        assert sorted(os.listdir(os.path.join(daemon.template_dir, "alice"))) == \
            ["left.Data", "right.Data"]


BURST = 10000


class TestBurst:
    """10,000 calls sent at once without waiting for answers.

    Each pass of the loop works off every call that waits, so the daemon
    takes the whole burst in, stays alive with bounded memory and answers
    it within a minute."""

    def test_burst_of_calls(self, private_bus, daemon, outside):
        conn = dbus.bus.BusConnection(private_bus.address)
        try:
            rss_before = rss_kib(daemon.proc.pid)
            log_before = daemon.log().count("\nmsg ")
            members = [("ListFingers", IFACE, "s", ["alice"]), ("Get", PROPS, "ss", [IFACE, "State"]),
                       ("DeleteFinger", IFACE, "ss", ["..", "left"]), ("Verify", IFACE, "i", [1]),
                       ("Nonexistent", IFACE, "", [])]
            for n in range(BURST):
                member, iface, sig, args = members[n % len(members)]
                msg = dbus.lowlevel.MethodCallMessage(BUS_NAME, PATH, iface, member)
                msg.append(signature=sig, *args)
                # No reply wanted: the bus then does not count it against
                # the caller's pending-reply limit.
                msg.set_no_reply(True)
                conn.send_message(msg)
            conn.flush()
            COUNTS["burst"] += BURST
            # The daemon reads the whole burst into its queue and works it off.
            t0 = time.monotonic()
            wait_until(lambda: daemon.log().count("\nmsg ") >= log_before + BURST, 60, step=0.5)
            took = time.monotonic() - t0
            handled = daemon.log().count("\nmsg ") - log_before
            rss_after = rss_kib(daemon.proc.pid)
            COUNTS["burst_seconds"] = round(took, 1)
        finally:
            conn.close()
        assert_unharmed(daemon, outside)
        assert handled >= BURST, "%d of %d calls handled in %.0f s" % (handled, BURST, took)
        # The queued burst is a few megabytes at most. Under AddressSanitizer
        # freed memory waits in its quarantine (256 MB), so RSS says nothing
        # there; its leak check covers that run.
        if "ASAN_OPTIONS" not in os.environ:
            assert rss_after - rss_before < 64 * 1024, (rss_before, rss_after)


def rss_kib(pid):
    # The daemon may run under the emulated sensor: take the largest RSS of
    # the process and its children.
    pids = [pid]
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
            pids += [int(p) for p in f.read().split()]
    except OSError:
        pass
    best = 0
    for p in pids:
        try:
            with open("/proc/%d/status" % p) as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        best = max(best, int(line.split()[1]))
        except OSError:
            pass
    return best
