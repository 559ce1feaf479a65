"""Helpers for the tests of the daemon's clients (vorl2547-ctl, the PAM
module): running the client on the private bus, finding its connection,
pausing the daemon, and faking a status signal as any peer could."""

import contextlib
import os
import signal
import subprocess

import dbus
import dbus.lowlevel

from conftest import BUILD, BUS_NAME, IFACE, PATH, daemon_pid, wait_until

CTL = os.path.join(BUILD, "ctl", "vorl2547-ctl")


def client_env(address, **extra):
    env = dict(os.environ)
    env["DBUS_SYSTEM_BUS_ADDRESS"] = address
    env.update(extra)
    return env


def run_ctl(address, *args, timeout=60):
    return subprocess.run([CTL] + [str(a) for a in args], env=client_env(address),
                          capture_output=True, text=True, timeout=timeout)


def start_ctl(address, *args):
    return subprocess.Popen([CTL] + [str(a) for a in args], env=client_env(address),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def enroll_with_ctl(address, sensor, user, finger, generated):
    sensor("place-finger", generated)
    # Test users have no account on the machine.
    out = run_ctl(address, "enroll", "--any-user", user, finger)
    assert out.returncode == 0, out.stdout + out.stderr


@contextlib.contextmanager
def paused(daemon):
    """The daemon stopped in its tracks: calls queue up unanswered."""
    pid = daemon_pid(daemon)
    os.kill(pid, signal.SIGSTOP)
    try:
        yield
    finally:
        os.kill(pid, signal.SIGCONT)


def connection_of(bus, pid, timeout=10.0):
    """The unique bus name of process pid, once it has connected."""
    def find():
        for name in bus.list_names():
            if name.startswith(":"):
                try:
                    if bus.call_blocking("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                         "org.freedesktop.DBus", "GetConnectionUnixProcessID",
                                         "s", [name]) == pid:
                        return str(name)
                except dbus.exceptions.DBusException:
                    pass
        return None
    found = []
    assert wait_until(lambda: found.append(find()) or found[-1], timeout), \
        "process %d never connected" % pid
    return found[-1]


def send_call_no_wait(bus, member, signature, args):
    """A method call that goes out at once; its reply is left unread."""
    msg = dbus.lowlevel.MethodCallMessage(BUS_NAME, PATH, IFACE, member)
    msg.append(*args, signature=signature)
    bus.send_message(msg)
    bus.flush()


def fake_status(bus, member, id, status, text, destination=None):
    """A status signal from a peer that is not the daemon."""
    msg = dbus.lowlevel.SignalMessage(PATH, IFACE, member)
    if destination:
        msg.set_destination(destination)
    msg.append(id, dbus.Int32(status), text, signature="sis")
    bus.send_message(msg)
    bus.flush()


def wait_claimed(sensor, value, timeout=10.0):
    return wait_until(lambda: sensor.state()["claimed"] == value, timeout)

