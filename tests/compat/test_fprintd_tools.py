"""fprintd's own command-line tools against vorl2547-fprintd: enroll with
nine touches, list, verify (match, stranger, another user's finger), enroll
again, delete."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import frontend  # noqa: E402,F401  (puts the black-box helpers on the path)

import dbus  # noqa: E402
import pytest  # noqa: E402
from client_tools import CTL  # noqa: E402
from frontend import (ALICE, ALICE_OTHER, BOB, DEVICE_PATH, ERROR, FPRINT, MANAGER_PATH, STRANGER,  # noqa: E402,F401
                      UNSEEN, stack, wait_until)


def results(out, kind):
    return [line.split(": ", 1)[1] for line in out.stdout.splitlines()
            if line.startswith(kind + " result: ")]


class TestTools:
    def test_enroll_takes_nine_touches_and_stores_the_finger(self, stack):
        out = stack.enroll("alice", "right-index-finger", ALICE)
        assert results(out, "Enroll") == ["enroll-stage-passed"] * 9 + ["enroll-completed"]
        assert stack.stored("alice") == ["right-index-finger.Data"]

    def test_list_shows_the_finger_and_hides_names_outside_the_api(self, stack):
        # A finger stored through the daemon's own client under another name
        # (alice has no account here: --any-user).
        stack.sensor("place-finger", ALICE_OTHER)
        assert stack.run(CTL, "enroll", "--any-user", "alice", "index").returncode == 0
        out = stack.run("fprintd-list", "alice")
        assert out.returncode == 0, out.stderr
        assert " - #0: right-index-finger" in out.stdout
        assert "#1" not in out.stdout

    def test_verify_matches_another_impression(self, stack):
        stack.sensor("place-finger", ALICE, UNSEEN)
        out = stack.run("fprintd-verify", "alice")
        assert (out.returncode, results(out, "Verify")) == (0, ["verify-match (done)"]), out.stdout

    def test_verify_rejects_a_stranger_after_retries(self, stack):
        stack.sensor("place-finger", STRANGER, 0)
        out = stack.run("fprintd-verify", "alice")
        assert out.returncode != 0
        assert results(out, "Verify") == ["verify-retry-scan (not done)"] * 4 + ["verify-no-match (done)"]

    def test_another_users_enrolled_finger_is_no_match(self, stack):
        # Only alice's prints are compared: bob's is never a match of hers.
        stack.enroll("bob", "left-thumb", BOB)
        stack.sensor("place-finger", BOB, UNSEEN)
        out = stack.run("fprintd-verify", "alice")
        assert out.returncode != 0
        assert results(out, "Verify") == ["verify-retry-scan (not done)"] * 4 + ["verify-no-match (done)"]
        out = stack.run("fprintd-verify", "bob")
        assert results(out, "Verify") == ["verify-match (done)"]

    def test_enrolling_an_enrolled_finger_again_replaces_it(self, stack):
        before = open(os.path.join(stack.daemon.template_dir, "alice", "right-index-finger.Data"), "rb").read()
        out = stack.enroll("alice", "right-index-finger", ALICE)
        assert results(out, "Enroll")[-1] == "enroll-completed"
        assert stack.stored("alice") == ["index.Data", "right-index-finger.Data"]
        after = open(os.path.join(stack.daemon.template_dir, "alice", "right-index-finger.Data"), "rb").read()
        assert after != before

    def test_verify_of_a_named_finger_rejects_the_users_other_fingers(self, stack):
        stack.enroll("alice", "left-thumb", ALICE_OTHER)
        stack.sensor("place-finger", ALICE_OTHER, UNSEEN)
        out = stack.run("fprintd-verify", "-f", "right-index-finger", "alice")
        assert out.returncode != 0
        assert results(out, "Verify") == ["verify-retry-scan (not done)"] * 4 + ["verify-no-match (done)"]
        out = stack.run("fprintd-verify", "-f", "left-thumb", "alice")
        assert (out.returncode, results(out, "Verify")) == (0, ["verify-match (done)"]), out.stdout

    def test_delete_removes_the_users_fingers_only(self, stack):
        out = stack.run("fprintd-delete", "alice")
        assert out.returncode == 0, out.stdout + out.stderr
        assert stack.stored("alice") == ["index.Data"]
        assert stack.stored("bob") == ["left-thumb.Data"]
        out = stack.run("fprintd-list", "alice")
        assert "no fingers enrolled" in out.stdout


class TestDeviceAndLimits:
    def test_no_device_while_the_sensor_is_unplugged(self, stack):
        manager = dbus.Interface(stack.conn.get_object(FPRINT, MANAGER_PATH), "net.reactivated.Fprint.Manager")
        assert manager.GetDevices() == [DEVICE_PATH]
        stack.sensor("unplug")
        try:
            # The daemon's answer serves for a second.
            assert wait_until(lambda: manager.GetDevices() == [], 5)
            with pytest.raises(dbus.exceptions.DBusException) as info:
                manager.GetDefaultDevice()
            assert info.value.get_dbus_name() == ERROR + "NoSuchDevice"
        finally:
            stack.sensor("replug")
        assert wait_until(lambda: manager.GetDevices() == [DEVICE_PATH], 10)
        assert manager.GetDefaultDevice() == DEVICE_PATH

    def test_a_new_finger_at_the_ten_finger_limit_is_enroll_data_full(self, stack):
        # The limit counts stored files, whatever they hold.
        user_dir = os.path.join(stack.daemon.template_dir, "carol")
        os.makedirs(user_dir)
        for i in range(10):
            with open(os.path.join(user_dir, "finger%d.Data" % i), "wb") as f:
                f.write(bytes(28000))
        stack.sensor("place-finger", ALICE)
        out = stack.run("fprintd-enroll", "-f", "left-thumb", "carol")
        assert out.returncode != 0
        assert results(out, "Enroll") == ["enroll-data-full"]
        assert len(stack.stored("carol")) == 10
