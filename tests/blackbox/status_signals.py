"""Records the daemon's EnrollStatus and VerifyStatus signals.

The daemon sends a run's signals only to the connection that started the
run, so a test makes its calls on the recorder's connection (`conn`). A GLib
main loop delivers the signals to it; the recorder pumps it while a test
waits, so tests stay plain and sequential.
"""

import time

import dbus
import pytest
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

from conftest import IFACE, PATH


class StatusRecorder:
    def __init__(self, address):
        self.conn = dbus.bus.BusConnection(address, mainloop=DBusGMainLoop())
        self.events = []
        self.conn.add_signal_receiver(self._on_signal, dbus_interface=IFACE, path=PATH,
                                      member_keyword="member")
        # The match rule must reach the bus before the first signal is sent.
        self.conn.call_blocking("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                "org.freedesktop.DBus", "GetId", "", [])

    def _on_signal(self, id, status, text, member=None):
        self.events.append((str(member), str(id), int(status), str(text)))

    def pump(self, seconds=0.0):
        ctx = GLib.MainContext.default()
        deadline = time.monotonic() + seconds
        while True:
            while ctx.iteration(False):
                pass
            if time.monotonic() >= deadline:
                return
            time.sleep(0.01)

    def clear(self):
        self.pump()
        self.events = []

    def wait_final(self, member, timeout=60.0):
        """Waits for the end of a run: the first signal of `member` that is
        not a step (progress for EnrollStatus, a retry for VerifyStatus).
        Returns every `member` signal seen up to and including it."""
        step = 2 if member == "EnrollStatus" else 3
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            self.pump(0.05)
            ours = [e for e in self.events if e[0] == member]
            if any(e[2] != step for e in ours):
                return ours[:next(i for i, e in enumerate(ours) if e[2] != step) + 1]
        raise AssertionError("no final %s within %.0f s; got %r" % (member, timeout, self.events))

    def close(self):
        self.conn.close()


@pytest.fixture(scope="class")
def signals(private_bus):
    rec = StatusRecorder(private_bus.address)
    yield rec
    rec.close()


@pytest.fixture(scope="class")
def bus(signals):
    """A run's signals reach only the connection that started it: the
    tests call through the recorder's."""
    return signals.conn
