"""Black-box harness: the real vorl2547d on a private system-like bus.

Build directory: $VORL2547_BUILD, else <repo>/build. A test module may
override the `daemon_wrapper` fixture to start the daemon under another
program (an emulated sensor, a sandbox); the wrapper argv goes in front of
the daemon's own.
"""

import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

import dbus
import pytest

from privbus import PrivateBus

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.environ.get("VORL2547_BUILD", os.path.join(REPO, "build"))
POLICY_FILE = os.path.join(REPO, "data", "com.vorlen.fprint.conf")

BUS_NAME = "com.vorlen.fprint"
IFACE = "com.vorlen.fprint"
PROPS = "org.freedesktop.DBus.Properties"
PATH = "/com/vorlen"
ERR_FAILED = "org.freedesktop.DBus.Error.Failed"
ERR_INVALID_ARGS = "org.freedesktop.DBus.Error.InvalidArgs"
ERR_ACCESS_DENIED = "org.freedesktop.DBus.Error.AccessDenied"
ERR_NO_REPLY = "org.freedesktop.DBus.Error.NoReply"

# An idle daemon answers within about 1.05 s; sanitizer builds are slower.
CALL_TIMEOUT = float(os.environ.get("VORL2547_CALL_TIMEOUT", "10"))

# Log lines of faults no test provokes on purpose: memory running out, a
# signal that could not be made, a worker thread that could not start.
UNEXPECTED_LOG_LINES = {"No memory", "Out of memory", "Message Null", "CreateThread err"}
# What the daemon's libraries and the sanitizers write to its standard error
# when something is wrong: libdbus about its own misuse, libusb's warnings,
# ASan, UBSan and TSan reports.
UNEXPECTED_OUTPUT = re.compile(r"^(?:dbus\[\d+\]: |libusb: (?:warning|error)|==\d+==ERROR|"
                               r"WARNING: ThreadSanitizer|.*: runtime error: ).*$", re.M)


def daemon_argv(build_dir=BUILD, wrapper=()):
    return list(wrapper) + [os.path.join(build_dir, "service", "vorl2547d")]


def daemon_env(bus_address, log_file, template_dir):
    env = dict(os.environ)
    env["DBUS_SYSTEM_BUS_ADDRESS"] = bus_address
    env["VORL2547_LOG_FILE"] = log_file
    env["VORL2547_TEMPLATE_DIR"] = template_dir
    return env


def wait_until(predicate, timeout, step=0.05):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


class Daemon:
    """One vorl2547d process with its own log file and template directory."""

    def __init__(self, bus_address, argv, log_file=None):
        self.dir = tempfile.mkdtemp(prefix="vorl2547-daemon-")
        self.log_file = log_file or os.path.join(self.dir, "vorlenfp2547.log")
        self.template_dir = os.path.join(self.dir, "templates")
        os.mkdir(self.template_dir)
        self.stdout_file = os.path.join(self.dir, "stdout")
        self.argv = argv
        self.env = daemon_env(bus_address, self.log_file, self.template_dir)
        self.proc = None
        # What stop() found in the log and on standard output and error.
        self.warnings = []

    def start(self):
        with open(self.stdout_file, "w") as out:
            self.proc = subprocess.Popen(self.argv, env=self.env, stdout=out,
                                         stderr=subprocess.STDOUT)
        return self

    def wait_owned(self, bus, timeout=10.0):
        if not wait_until(lambda: self.proc.poll() is not None or bus.name_has_owner(BUS_NAME),
                          timeout):
            raise RuntimeError("daemon did not own the name in time")
        if self.proc.poll() is not None:
            raise RuntimeError("daemon exited with %d:\n%s" % (self.proc.returncode, self.stdout()))

    def wait_exit(self, timeout=10.0):
        return self.proc.wait(timeout=timeout)

    def stop(self):
        if self.proc is not None and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        if self.proc is not None and os.path.isdir(self.dir):
            self.warnings = [line for line in self.log().splitlines()
                             if line.strip() in UNEXPECTED_LOG_LINES]
            self.warnings += [m.group(0) for m in UNEXPECTED_OUTPUT.finditer(self.stdout())]
        shutil.rmtree(self.dir, ignore_errors=True)

    def log(self):
        try:
            with open(self.log_file, "rb") as f:
                return f.read().decode("utf-8", "replace")
        except FileNotFoundError:
            return ""

    def stdout(self):
        with open(self.stdout_file, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def wait_log(self, text, timeout=5.0, source=None):
        source = source or self.log
        if not wait_until(lambda: text in source(), timeout):
            raise AssertionError("%r not logged; log is:\n%s" % (text, source()))


@pytest.fixture(scope="session")
def private_bus():
    with PrivateBus(POLICY_FILE) as bus:
        yield bus


@pytest.fixture(scope="class")
def daemon_wrapper():
    return []


@pytest.fixture(scope="class")
def bus(private_bus):
    conn = dbus.bus.BusConnection(private_bus.address)
    yield conn
    conn.close()


@pytest.fixture(scope="class")
def daemon(private_bus, bus, daemon_wrapper):
    d = Daemon(private_bus.address, daemon_argv(wrapper=daemon_wrapper)).start()
    try:
        d.wait_owned(bus)
        yield d
    finally:
        d.stop()
    # As libusb's test fixtures do: a warning nobody asked for fails the tests.
    assert not d.warnings, "unexpected warnings from the daemon: %r" % d.warnings


def daemon_pid(daemon):
    """The daemon's own pid: under a wrapper (the emulated sensor) it is the
    wrapper's child."""
    pid = daemon.proc.pid
    with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
        children = f.read().split()
    return int(children[0]) if children else pid


def claim(bus, on=True):
    """Claims (or releases) the sensor as "tester"; the daemon must agree."""
    reply = call(bus, "Claim", "sb", ["tester", on])
    assert reply is None
    return reply


def call(bus, member, signature="", args=(), interface=IFACE, path=PATH, timeout=CALL_TIMEOUT):
    """A blocking call to the daemon; returns the reply's value (None when empty)."""
    return bus.call_blocking(BUS_NAME, path, interface, member, signature, list(args),
                             timeout=timeout)


def call_error(bus, member, signature="", args=(), **kw):
    """The D-Bus error a call gets, as (name, message)."""
    with pytest.raises(dbus.exceptions.DBusException) as info:
        call(bus, member, signature, args, **kw)
    return info.value.get_dbus_name(), info.value.get_dbus_message()
