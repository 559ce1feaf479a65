"""Authorization as fprintd does it, with dbusmock's polkit: an ordinary user
needs the actions, root does not; a claim ends with its client."""

import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from frontend import (ALICE, AS_NOBODY, DEVICE_PATH, ERROR, FPRINT, HERE, polkit, stack,  # noqa: E402,F401
                      wait_until)
import dbus  # noqa: E402

PY = "/usr/bin/python3"


def as_nobody(stack, script, *args, timeout=90):
    return stack.run(*AS_NOBODY, PY, os.path.join(HERE, script), *args, timeout=timeout)


class TestAuthorization:
    def test_enroll_without_the_enroll_action_is_permission_denied(self, stack, polkit):
        polkit.allow("verify")
        out = as_nobody(stack, "calls_as.py", "Claim:", "EnrollStart:right-thumb", "Release")
        assert out.stdout.splitlines() == ["reply", "error " + ERROR + "PermissionDenied", "reply"], out.stderr

    def test_another_users_name_is_permission_denied(self, stack, polkit):
        polkit.allow("verify", "enroll")
        out = as_nobody(stack, "calls_as.py", "Claim:alice", "ListEnrolledFingers:alice",
                        "DeleteEnrolledFingers:alice")
        assert out.stdout.splitlines() == ["error " + ERROR + "PermissionDenied"] * 3, out.stderr

    def test_gnome_settings_sequence_as_the_user(self, stack, polkit):
        polkit.allow("verify", "enroll")
        stack.sensor("place-finger", ALICE)
        out = as_nobody(stack, "gnome_settings_sequence.py", "left-index-finger")
        assert out.returncode == 0, out.stdout + out.stderr
        assert "progress reached 9 of 9 at enroll-completed" in out.stdout
        assert "ListEnrolledFingers (unclaimed): %sNoEnrolledPrints" % ERROR in out.stdout
        assert "ListEnrolledFingers (claimed): ['left-index-finger']" in out.stdout
        assert stack.stored("nobody") == []

    def test_another_client_cannot_use_or_release_a_held_claim(self, stack, polkit):
        polkit.allow("verify", "enroll")
        device = stack.device()
        device.Claim("alice")
        try:
            out = as_nobody(stack, "calls_as.py", "Claim:", "VerifyStart:any", "EnrollStop", "Release")
            assert out.stdout.splitlines() == ["error " + ERROR + "AlreadyInUse"] * 4, out.stderr
        finally:
            device.Release()

    def test_a_client_that_leaves_mid_verify_releases_the_device(self, stack):
        stack.enroll("alice", "right-index-finger", ALICE)
        stack.sensor("lift")
        client = subprocess.Popen([PY, os.path.join(HERE, "calls_as.py"), "Claim:alice", "VerifyStart:any"],
                                  env=stack.env(), stdout=subprocess.PIPE, text=True)
        assert client.stdout.readline().strip() == "reply"
        assert client.stdout.readline().strip() == "reply"
        client.kill()
        client.wait()
        device = stack.device()

        def claimable():
            try:
                device.Claim("alice")
                return True
            except dbus.exceptions.DBusException as e:
                assert e.get_dbus_name() == ERROR + "AlreadyInUse"
                return False

        assert wait_until(claimable, 10, step=0.2)
        device.Release()
        # The daemon's run and claim ended with it: the sensor is free.
        state = stack.conn.call_blocking("com.vorlen.fprint", "/com/vorlen", "org.freedesktop.DBus.Properties",
                                         "Get", "ss", ["com.vorlen.fprint", "State"], timeout=10)
        assert state == 1
