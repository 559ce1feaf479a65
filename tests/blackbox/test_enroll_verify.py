"""Enrollment and verification end to end: the real daemon and matching
library on the emulated sensor, fed with generated fingers."""

import os
import re
import stat

import pytest

from conftest import ERR_FAILED, call, call_error, claim, wait_until
from emulated_sensor import daemon_wrapper, sensor, sensor_dir  # noqa: F401  (fixtures)
from status_signals import bus, signals  # noqa: F401  (fixtures)

ENROLL = "EnrollStatus"
VERIFY = "VerifyStatus"
PROGRESS = [("EnrollStatus", "alice", 2, "{progress:%d}" % p) for p in range(20, 100, 10)]


def enroll(bus, signals, sensor, user, finger, generated):
    """A whole enrollment with generated finger `generated`; returns its signals."""
    signals.clear()
    sensor("place-finger", generated)
    assert call(bus, "Enroll", "ss", [user, finger]) is None
    return signals.wait_final(ENROLL)


def verify(bus, signals, sensor, finger, generated, impression):
    signals.clear()
    sensor("place-finger", generated, impression)
    assert call(bus, "Verify", "s", [finger]) is None
    return signals.wait_final(VERIFY)


def list_fingers(bus, user):
    return [str(f) for f in call(bus, "ListFingers", "s", [user])]


def template(daemon, user, finger):
    return os.path.join(daemon.template_dir, user, finger + ".Data")


def tree(root):
    out = set()
    for dirpath, dirnames, filenames in os.walk(root):
        out.update(os.path.join(dirpath, n) for n in dirnames + filenames)
    return out


# Generated fingers: ALICE enrolls, STRANGER never does. Enrollment uses the
# impressions the sensor hands out in turn; verification uses later ones.
ALICE, STRANGER, BOB = 3, 7, 11
UNSEEN = 40


class TestEnrollThenVerify:
    def test_enrollment_reports_progress_and_stores_a_private_template(self, bus, daemon, sensor,
                                                                     signals):
        claim(bus)
        events = enroll(bus, signals, sensor, "alice", "right-index", ALICE)
        assert events == PROGRESS + [(ENROLL, "alice", 0, "")]
        st = os.stat(template(daemon, "alice", "right-index"))
        assert st.st_size == 28000
        assert stat.S_IMODE(st.st_mode) == 0o600
        assert stat.S_IMODE(os.stat(os.path.dirname(template(daemon, "alice", "x"))).st_mode) == 0o700
        assert list_fingers(bus, "alice") == ["right-index"]

    def test_same_finger_is_identified_and_its_template_renewed_atomically(self, bus, daemon,
                                                                          sensor, signals):
        path = template(daemon, "alice", "right-index")
        inode = os.stat(path).st_ino
        events = verify(bus, signals, sensor, "any", ALICE, UNSEEN)
        assert events[-1] == (VERIFY, "alice", 0, "")
        # Renewed just after the answer, by a rename over the old file: a
        # new inode, whole, and no temporary file left behind.
        assert wait_until(lambda: os.stat(path).st_ino != inode, 5)
        assert os.stat(path).st_size == 28000
        assert os.listdir(os.path.dirname(path)) == ["right-index.Data"]

    def test_empty_finger_name_means_any(self, bus, daemon, sensor, signals):
        assert verify(bus, signals, sensor, "", ALICE, UNSEEN + 1)[-1] == (VERIFY, "alice", 0, "")

    def test_stranger_is_never_accepted(self, bus, daemon, sensor, signals):
        events = verify(bus, signals, sensor, "any", STRANGER, 0)
        assert len(events) == 5
        for e in events[:4]:
            assert e[1:3] == ("", 3) and e[3] in ("{subcode:3}", "{subcode:5}")
        assert events[4] == (VERIFY, "", 1, "")

    def test_finger_filter_compares_only_that_finger(self, bus, daemon, sensor, signals):
        assert enroll(bus, signals, sensor, "bob", "left", BOB)[-1] == (ENROLL, "bob", 0, "")
        # Alice's finger against bob's "left" only: never alice.
        events = verify(bus, signals, sensor, "left", ALICE, UNSEEN + 2)
        assert all(e[2] != 0 for e in events)
        assert verify(bus, signals, sensor, "right-index", ALICE, UNSEEN + 3)[-1] == \
            (VERIFY, "alice", 0, "")
        # A finger nobody has: nothing to compare with.
        assert verify(bus, signals, sensor, "thumb", ALICE, UNSEEN + 4) == \
            [(VERIFY, "", 2, "{subcode:1}")]

    def test_duplicate_name_is_refused_by_a_signal_before_the_reply(self, bus, daemon, sensor,
                                                                    signals):
        signals.clear()
        assert call(bus, "Enroll", "ss", ["alice", "right-index"]) is None
        signals.pump(0.2)
        assert signals.events == [(ENROLL, "alice", 1, "{subcode:2}")]

    def test_second_worker_is_refused(self, bus, daemon, sensor, signals):
        sensor("lift")
        signals.clear()
        assert call(bus, "Verify", "s", ["any"]) is None
        assert call_error(bus, "Enroll", "ss", ["carol", "x"]) == (ERR_FAILED, "Enroll fail.")
        assert call_error(bus, "Verify", "s", ["any"]) == (ERR_FAILED, "Verify fail.")
        assert call(bus, "StopVerify") is None
        assert signals.wait_final(VERIFY) == [(VERIFY, "", 2, "{subcode:1}")]


def assert_stop_lines(daemon, mark, mode, stop_line):
    """A run stopped while waiting for a finger logs the ended wait, its own
    stop line and the worker's exit, in that order (other threads' lines may
    come between)."""
    daemon.wait_log("%s thread exit" % mode)
    pattern = r"(?m)^%s timeout [78]$[\s\S]*?^%s$[\s\S]*?^%s thread exit [78]$" % (mode, stop_line, mode)
    assert re.search(pattern, daemon.log()[mark:]), daemon.log()[mark:]


class TestStops:
    def test_stop_enroll_while_waiting_for_a_finger(self, bus, daemon, sensor, signals):
        claim(bus)
        sensor("lift")
        sensor("clear-commands")
        signals.clear()
        mark = len(daemon.log())
        assert call(bus, "Enroll", "ss", ["dave", "thumb"]) is None
        assert wait_until(lambda: sensor.state()["capturing"] == "1", 10)
        assert call(bus, "StopEnroll") is None
        assert signals.wait_final(ENROLL) == [(ENROLL, "dave", 1, "{subcode:3}")]
        # Begin-capture, then the end-capture frame from the stop.
        assert "ea02000000000 2ea".replace(" ", "") in sensor("commands").lower()
        assert not os.path.exists(os.path.join(daemon.template_dir, "dave"))
        assert_stop_lines(daemon, mark, "enroll", "enroll block")

    def test_stop_verify_while_waiting_for_a_finger(self, bus, daemon, sensor, signals):
        sensor("lift")
        signals.clear()
        mark = len(daemon.log())
        assert call(bus, "Verify", "s", ["any"]) is None
        assert wait_until(lambda: sensor.state()["capturing"] == "1", 10)
        assert call(bus, "StopVerify") is None
        assert signals.wait_final(VERIFY) == [(VERIFY, "", 2, "{subcode:1}")]
        assert_stop_lines(daemon, mark, "verify", "verify exit")

    def test_claim_release_stops_a_running_worker(self, bus, daemon, sensor, signals):
        sensor("lift")
        signals.clear()
        assert call(bus, "Enroll", "ss", ["erin", "thumb"]) is None
        assert wait_until(lambda: sensor.state()["capturing"] == "1", 10)
        claim(bus, False)
        assert signals.wait_final(ENROLL)[-1][2] in (1, 4)
        assert sensor.state()["claimed"] == "0"
        claim(bus)


class TestRefusalsAndStore:
    def test_ten_fingers_is_the_limit(self, bus, daemon, sensor, signals):
        claim(bus)
        assert enroll(bus, signals, sensor, "frank", "f0", ALICE)[-1] == (ENROLL, "frank", 0, "")
        data = open(template(daemon, "frank", "f0"), "rb").read()
        for i in range(1, 10):
            with open(template(daemon, "frank", "f%d" % i), "wb") as f:
                f.write(data)
        signals.clear()
        assert call(bus, "Enroll", "ss", ["frank", "f10"]) is None
        signals.pump(0.2)
        assert signals.events == [(ENROLL, "frank", 1, "{subcode:4}")]

    def test_rename_delete_and_delete_all(self, bus, daemon):
        assert call(bus, "RenameFinger", "sss", ["frank", "f0", "thumb"]) is None
        assert "thumb" in list_fingers(bus, "frank") and "f0" not in list_fingers(bus, "frank")
        assert call_error(bus, "RenameFinger", "sss", ["frank", "thumb", "f1"]) == \
            (ERR_FAILED, "RenameFinger fail.")
        assert call_error(bus, "RenameFinger", "sss", ["frank", "nothere", "x"]) == \
            (ERR_FAILED, "RenameFinger fail.")
        assert call(bus, "DeleteFinger", "ss", ["frank", "thumb"]) is None
        assert call_error(bus, "DeleteFinger", "ss", ["frank", "thumb"]) == \
            (ERR_FAILED, "DeleteFinger fail.")
        assert call(bus, "DeleteAllFingers", "s", ["frank"]) is None
        assert list_fingers(bus, "frank") == []
        assert os.path.isdir(os.path.join(daemon.template_dir, "frank"))
        assert call(bus, "DeleteAllFingers", "s", ["frank"]) is None

    @pytest.mark.parametrize("user,finger", [("../../tmp/x", "f"), ("..", "f"), ("u", "../x"),
                                             ("", "f"), ("u", ""), ("a" * 64, "f"),
                                             ("u", "n" * 59), ("u", ".hidden")])
    def test_traversal_names_are_refused_and_touch_nothing(self, bus, daemon, sensor, user,
                                                           finger):
        top = os.path.dirname(daemon.template_dir)
        before = tree(top)
        assert call_error(bus, "Enroll", "ss", [user, finger]) == (ERR_FAILED, "Enroll fail.")
        assert call_error(bus, "DeleteFinger", "ss", [user, finger]) == \
            (ERR_FAILED, "DeleteFinger fail.")
        assert call_error(bus, "RenameFinger", "sss", [user, finger, "g"]) == \
            (ERR_FAILED, "RenameFinger fail.")
        assert call(bus, "DeleteAllFingers", "s", [user]) is None
        assert list(call(bus, "ListFingers", "s", [user])) == []
        assert tree(top) == before


    @pytest.mark.parametrize("newname", ["../../escaped", "..", "", "a/b", "n" * 64])
    def test_rename_to_a_traversal_name_is_refused(self, bus, daemon, newname):
        os.makedirs(os.path.join(daemon.template_dir, "victim"), exist_ok=True)
        with open(template(daemon, "victim", "f"), "wb") as f:
            f.write(b"\0" * 28000)
        top = os.path.dirname(daemon.template_dir)
        before = tree(top)
        assert call_error(bus, "RenameFinger", "sss", ["victim", "f", newname]) == \
            (ERR_FAILED, "RenameFinger fail.")
        assert tree(top) == before


class TestSensorFaults:
    def test_unplug_mid_enrollment_ends_with_status_4_and_replug_recovers(self, bus, daemon,
                                                                          sensor, signals):
        claim(bus)
        sensor("lift")
        signals.clear()
        assert call(bus, "Enroll", "ss", ["gina", "thumb"]) is None
        assert wait_until(lambda: sensor.state()["capturing"] == "1", 10)
        sensor("unplug")
        assert signals.wait_final(ENROLL) == [(ENROLL, "gina", 4, "")]
        assert daemon.proc.poll() is None
        claim(bus, False)
        sensor("replug")
        assert wait_until(lambda: call(bus, "Get", "ss", ["", "State"],
                                       interface="org.freedesktop.DBus.Properties") == 1, 10)
        claim(bus)
        events = enroll(bus, signals, sensor, "gina", "thumb", BOB)
        assert events[-1] == (ENROLL, "gina", 0, "")
