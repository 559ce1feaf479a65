"""The bus policy shipped in data/, seen by a caller that is not root."""

import os
import subprocess

import pytest

from conftest import IFACE, PROPS

# Passed as source text: the checkout may sit where nobody cannot read
# (a clone under /root).
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "unprivileged_call.py")) as f:
    HELPER_SOURCE = f.read()


def unprivileged(bus_address, interface, member, signature="", *args):
    env = {"DBUS_SYSTEM_BUS_ADDRESS": bus_address, "PYTHONDONTWRITEBYTECODE": "1",
           "PATH": "/usr/bin:/bin"}
    out = subprocess.run(
        ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
         "/usr/bin/python3", "-c", HELPER_SOURCE, interface, member, signature, *args],
        env=env, capture_output=True, text=True, timeout=30, cwd="/")
    assert out.returncode == 0, out.stderr
    return out.stdout.strip()


class TestUnprivilegedCaller:
    @pytest.mark.parametrize("member,signature,args", [
        ("Enroll", "ss", ["root", "right-index"]),
        ("StopEnroll", "", []),
        ("DeleteFinger", "ss", ["root", "right-index"]),
        ("DeleteAllFingers", "s", ["root"]),
        ("RenameFinger", "sss", ["root", "a", "b"]),
    ])
    def test_changes_to_stored_fingers_are_denied(self, private_bus, daemon, member, signature,
                                                  args):
        assert unprivileged(private_bus.address, IFACE, member, signature, *args) == \
            "error org.freedesktop.DBus.Error.AccessDenied"

    def test_enroll_without_interface_header_is_denied(self, private_bus, daemon):
        assert unprivileged(private_bus.address, "", "Enroll", "ss", "root", "x") == \
            "error org.freedesktop.DBus.Error.AccessDenied"

    def test_properties_are_readable(self, private_bus, daemon):
        assert unprivileged(private_bus.address, PROPS, "Get", "ss", "", "Name") == \
            "reply Vorl2547"

    def test_claim_reaches_the_daemon(self, private_bus, daemon):
        # The refusal comes from the daemon, not from the bus.
        assert unprivileged(private_bus.address, IFACE, "Verify", "s", "any") == \
            "error org.freedesktop.DBus.Error.Failed"

    def test_nobody_else_may_own_the_name(self, private_bus, daemon):
        out = subprocess.run(
            ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
             "/usr/bin/python3", "-c",
             "import dbus; b = dbus.SystemBus(); "
             "print(b.request_name('com.vorlen.fprint', dbus.bus.NAME_FLAG_DO_NOT_QUEUE))"],
            env={"DBUS_SYSTEM_BUS_ADDRESS": private_bus.address, "PATH": "/usr/bin:/bin"},
            capture_output=True, text=True, timeout=30, cwd="/")
        assert "AccessDenied" in out.stderr
