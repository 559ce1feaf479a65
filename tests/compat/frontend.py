"""vorl2547-fprintd on a private system-like bus: the bus with the shipped
policies of the daemon, the front end and polkit, the daemon on the emulated
sensor, and the front end owning net.reactivated.Fprint. fprintd's own
daemon never runs here; its clients (the fprintd-* tools, pam_fprintd.so)
find the front end through DBUS_SYSTEM_BUS_ADDRESS.

A test module imports the fixtures: `from frontend import *`.
"""

import os
import subprocess
import sys
import time

import dbus
import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "blackbox"))

from conftest import BUILD, REPO, Daemon, daemon_argv, wait_until  # noqa: E402
from emulated_sensor import SIM, Sensor  # noqa: E402
from privbus import PrivateBus  # noqa: E402

FRONTEND = os.path.join(BUILD, "compat", "vorl2547-fprintd")
POLICIES = [os.path.join(REPO, "data", "com.vorlen.fprint.conf"),
            os.path.join(REPO, "compat", "net.reactivated.Fprint.conf"),
            "/usr/share/dbus-1/system.d/org.freedesktop.PolicyKit1.conf"]
FPRINT = "net.reactivated.Fprint"
MANAGER_PATH = "/net/reactivated/Fprint/Manager"
DEVICE_PATH = "/net/reactivated/Fprint/Device/0"
DEVICE_IFACE = "net.reactivated.Fprint.Device"
ERROR = "net.reactivated.Fprint.Error."

# Generated fingers of the emulated sensor: alice's, bob's and a stranger's;
# verification uses an impression that enrollment never saw.
ALICE, BOB, STRANGER = 3, 11, 7
ALICE_OTHER = 5  # another finger of alice's, stored under a name outside the API
UNSEEN = 40

if not (os.path.exists(FRONTEND) and os.path.exists(SIM)):
    pytest.skip("needs the built front end and emulated sensor", allow_module_level=True)


class Bus(PrivateBus):
    """The private bus with every shipped policy the tests rely on, included
    through one small file beside the bus's own configuration."""

    def __init__(self, tmp):
        policy = os.path.join(str(tmp), "policies.conf")
        with open(policy, "w") as f:
            f.write('<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"\n'
                    ' "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">\n<busconfig>\n' +
                    "".join("  <include>%s</include>\n" % p for p in POLICIES) + "</busconfig>\n")
        super().__init__(policy)


class Stack:
    """Bus, daemon on the emulated sensor, front end. Torn down in reverse."""

    def __init__(self, tmp):
        self.bus = Bus(tmp)
        self.address = self.bus.start()
        self.conn = dbus.bus.BusConnection(self.address)
        sock = os.path.join(str(tmp), "sensor.sock")
        self.daemon = Daemon(self.address, daemon_argv(wrapper=[SIM, "--socket", sock, "--"])).start()
        self.daemon.wait_owned(self.conn)
        self.sensor = Sensor(sock)
        self.frontend_out = os.path.join(str(tmp), "frontend.out")
        self.frontend = None
        self.start_frontend()

    def start_frontend(self):
        with open(self.frontend_out, "a") as out:
            self.frontend = subprocess.Popen([FRONTEND], env=self.env(), stdout=out,
                                             stderr=subprocess.STDOUT)
        if not wait_until(lambda: self.frontend.poll() is not None or
                          self.conn.name_has_owner(FPRINT), 10):
            raise RuntimeError("front end did not own the name")
        assert self.frontend.poll() is None, open(self.frontend_out).read()

    def env(self, **extra):
        env = dict(os.environ)
        env["DBUS_SYSTEM_BUS_ADDRESS"] = self.address
        env.update(extra)
        return env

    def run(self, *argv, timeout=90, **kw):
        return subprocess.run(list(argv), env=self.env(), capture_output=True, text=True,
                              timeout=timeout, stdin=subprocess.DEVNULL, **kw)

    def device(self, conn=None):
        return dbus.Interface((conn or self.conn).get_object(FPRINT, DEVICE_PATH), DEVICE_IFACE)

    def stored(self, user):
        d = os.path.join(self.daemon.template_dir, user)
        return sorted(os.listdir(d)) if os.path.isdir(d) else []

    def enroll(self, user, finger, generated):
        """fprintd-enroll with a generated finger on the sensor."""
        self.sensor("place-finger", generated)
        out = self.run("fprintd-enroll", "-f", finger, user)
        assert out.returncode == 0, out.stdout + out.stderr
        return out

    def close(self):
        if self.frontend is not None and self.frontend.poll() is None:
            self.frontend.terminate()
            self.frontend.wait(timeout=10)
        self.daemon.stop()
        self.conn.close()
        self.bus.stop()


@pytest.fixture(scope="class")
def stack(tmp_path_factory):
    s = Stack(tmp_path_factory.mktemp("fprint"))
    yield s
    s.close()


AS_NOBODY = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]


class Polkit:
    """dbusmock's polkitd template, run as the polkitd user so that polkit's
    shipped bus policy lets it own its name. It refuses every action until
    told otherwise."""

    def __init__(self, stack):
        self.stack = stack
        argv = ["/usr/bin/python3", "-m", "dbusmock", "--system", "--template", "polkitd"]
        self.proc = subprocess.Popen(["setpriv", "--reuid=polkitd", "--regid=polkitd", "--clear-groups"] + argv,
                                     env=stack.env(), stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        name = "org.freedesktop.PolicyKit1"
        if not wait_until(lambda: stack.conn.name_has_owner(name), 15):
            raise RuntimeError("dbusmock's polkit did not start")
        self.mock = dbus.Interface(stack.conn.get_object(name, "/org/freedesktop/PolicyKit1/Authority"),
                                   "org.freedesktop.DBus.Mock")

    def allow(self, *actions):
        self.mock.SetAllowed(["net.reactivated.fprint.device." + a for a in actions])

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)


@pytest.fixture(scope="class")
def polkit(stack):
    p = Polkit(stack)
    yield p
    p.stop()
