"""vorl2547-ctl against the real daemon on the emulated sensor: every
subcommand, its exit status and its words, Ctrl-C in the middle of a run,
and the daemon missing, paused or refusing."""

import os
import pty
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "blackbox"))

from client_tools import (CTL, client_env, connection_of, enroll_with_ctl,  # noqa: E402
                          fake_status, paused, run_ctl, send_call_no_wait, start_ctl, wait_claimed)
from conftest import bus, daemon, daemon_pid, private_bus, wait_until  # noqa: E402,F401  (fixtures)
from emulated_sensor import daemon_wrapper, sensor, sensor_dir  # noqa: E402,F401  (fixtures)

if not os.path.exists(CTL):
    pytest.skip("vorl2547-ctl is not built", allow_module_level=True)

# Generated fingers: ALICE and BOB enroll, STRANGER never does.
ALICE, BOB, STRANGER = 3, 11, 7
UNSEEN = 40
END_CAPTURE = "EA020000000002EA"


class TestUsage:
    def test_help_names_every_command(self):
        out = subprocess.run([CTL, "--help"], capture_output=True, text=True)
        assert out.returncode == 0
        for command in ("status", "list", "enroll", "verify", "delete", "delete-all", "rename",
                        "--timeout"):
            assert command in out.stdout

    @pytest.mark.parametrize("args", [[], ["frobnicate"], ["list"], ["enroll", "alice"],
                                      ["rename", "a", "b"], ["--timeout", "soon", "status"],
                                      ["--timeout", "0", "status"]])
    def test_bad_usage_exits_2_without_calling_anyone(self, args):
        out = subprocess.run([CTL] + args, capture_output=True, text=True,
                             env=client_env("unix:path=/nonexistent"))
        assert out.returncode == 2
        assert "Usage:" in out.stderr or "--timeout" in out.stderr


class TestNotUtf8:
    def test_a_name_that_is_not_utf8_exits_2_without_calling_anyone(self):
        out = run_ctl("unix:path=/nonexistent/bus", "enroll", "x\udcffy", "f")
        assert out.returncode == 2
        assert out.stderr == "vorl2547-ctl: argument 1 of 'enroll' is not valid UTF-8 text\n"


class TestWithoutDaemon:
    def test_no_daemon_on_the_bus(self, private_bus):
        out = run_ctl(private_bus.address, "list", "alice")
        assert out.returncode == 2
        assert out.stderr == "vorl2547-ctl: the fingerprint daemon is not running\n"

    def test_no_bus_at_all(self):
        out = run_ctl("unix:path=/nonexistent/bus", "enroll", "alice", "x")
        assert out.returncode == 2
        assert "cannot reach the system bus" in out.stderr


class TestCommands:
    def test_status_shows_the_four_properties(self, private_bus, daemon, sensor):
        out = run_ctl(private_bus.address, "status")
        assert out.returncode == 0, out.stderr
        assert out.stdout.splitlines() == ["Name:       Vorl2547",
                                           "State:      1 (sensor present, not claimed)",
                                           "Type:       2 (fingerprint sensor)",
                                           "Capability: 1 (enrolls and identifies fingers)"]

    def test_enroll_prints_a_line_per_step_and_releases(self, private_bus, daemon, sensor):
        sensor("place-finger", ALICE)
        out = run_ctl(private_bus.address, "enroll", "--any-user", "alice", "right-index")
        assert out.returncode == 0, out.stderr
        lines = out.stdout.splitlines()
        assert lines[0] == "Enrolling right-index for alice: touch the sensor nine times."
        assert lines[1:-1] == ["touch accepted, %d%% done" % p for p in range(20, 100, 10)]
        assert lines[-1] == "finger enrolled: right-index of alice"
        assert wait_claimed(sensor, "0")
        assert run_ctl(private_bus.address, "list", "alice").stdout == "right-index\n"

    def test_enroll_draws_a_progress_bar_on_a_terminal(self, private_bus, daemon, sensor):
        sensor("place-finger", BOB)
        master, slave = pty.openpty()
        proc = subprocess.Popen([CTL, "enroll", "--any-user", "bob", "left-thumb"], stdout=slave,
                                stderr=subprocess.PIPE, env=client_env(private_bus.address))
        os.close(slave)
        screen = b""
        while True:
            try:
                chunk = os.read(master, 4096)
            except OSError:  # the terminal closes with the process
                break
            if not chunk:
                break
            screen += chunk
        os.close(master)
        assert proc.wait(timeout=60) == 0, proc.stderr.read()
        text = screen.decode()
        # One bar redrawn in place, not a line per step.
        for pct in (20, 90):
            filled = pct * 30 // 100
            assert "\r[%s%s] %3d%%" % ("#" * filled, "." * (30 - filled), pct) in text
        assert "touch accepted" not in text
        assert text.rstrip().endswith("finger enrolled: left-thumb of bob")

    def test_duplicate_is_refused_without_a_prompt(self, private_bus, daemon, sensor):
        out = run_ctl(private_bus.address, "enroll", "--any-user", "alice", "right-index")
        assert out.returncode == 1
        assert out.stdout == ""
        assert out.stderr == "vorl2547-ctl: alice already has a finger named right-index\n"
        assert wait_claimed(sensor, "0")

    def test_verify_prints_the_user_and_exits_0(self, private_bus, daemon, sensor):
        sensor("place-finger", ALICE, UNSEEN)
        out = run_ctl(private_bus.address, "verify")
        assert (out.returncode, out.stdout) == (0, "alice\n"), out.stderr
        assert out.stderr == "Place your finger on the sensor.\n"
        assert wait_claimed(sensor, "0")

    def test_verify_of_a_stranger_exits_1_after_the_retries(self, private_bus, daemon, sensor):
        sensor("place-finger", STRANGER, 0)
        out = run_ctl(private_bus.address, "verify")
        assert (out.returncode, out.stdout) == (1, "")
        lines = out.stderr.splitlines()
        assert len(lines) == 6 and all("try again" in line for line in lines[1:5])
        assert lines[5] == "vorl2547-ctl: no match: the finger is not enrolled"

    def test_verify_of_a_finger_nobody_has_exits_1(self, private_bus, daemon, sensor):
        sensor("place-finger", ALICE, UNSEEN + 1)
        out = run_ctl(private_bus.address, "verify", "--finger", "pinky")
        assert out.returncode == 1
        assert "nothing to compare with" in out.stderr

    def test_rename_delete_and_delete_all(self, private_bus, daemon):
        a = private_bus.address
        assert run_ctl(a, "rename", "alice", "right-index", "ri").stdout == \
            "renamed right-index of alice to ri\n"
        out = run_ctl(a, "rename", "alice", "right-index", "x")
        assert (out.returncode, out.stderr) == (1, "vorl2547-ctl: alice has no finger named right-index\n")
        assert run_ctl(a, "list", "alice").stdout == "ri\n"
        assert run_ctl(a, "delete", "alice", "ri").returncode == 0
        out = run_ctl(a, "delete", "alice", "ri")
        assert (out.returncode, out.stderr) == (1, "vorl2547-ctl: alice has no enrolled fingers\n")
        out = run_ctl(a, "delete-all", "bob")
        assert (out.returncode, out.stdout) == (0, "deleted all fingers of bob\n")
        out = run_ctl(a, "list", "bob")
        assert (out.returncode, out.stdout, out.stderr) == \
            (1, "", "vorl2547-ctl: bob has no enrolled fingers\n")

    def test_bad_names_are_refused_in_words(self, private_bus, daemon, sensor):
        out = run_ctl(private_bus.address, "enroll", "--any-user", "../etc", "x")
        assert out.returncode == 1
        assert out.stderr == "vorl2547-ctl: a user name cannot contain '/'\n"
        assert wait_claimed(sensor, "0")

    def test_changes_need_root(self, private_bus, daemon):
        # A copy nobody may run: the checkout may sit where nobody cannot read.
        d = tempfile.mkdtemp(prefix="vorl2547-ctl-")
        try:
            os.chmod(d, 0o755)
            ctl = shutil.copy(CTL, d)
            os.chmod(ctl, 0o755)
            out = subprocess.run(["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                  ctl, "enroll", "--any-user", "zed", "x"], capture_output=True,
                                 text=True,
                                 env=client_env(private_bus.address), cwd="/", timeout=30)
        finally:
            shutil.rmtree(d)
        assert out.returncode == 2
        assert "permission denied" in out.stderr


class TestInterruptions:
    @pytest.mark.parametrize("command,stop", [(["enroll", "--any-user", "carol", "x"],
                                               "handle_StopEnroll"),
                                              (["verify"], "handle_StopVerify")])
    def test_ctrl_c_stops_the_run_then_releases(self, private_bus, daemon, sensor, command, stop):
        if command[0] == "verify":
            enroll_with_ctl(private_bus.address, sensor, "alice", "right-index", ALICE)
        sensor("lift")
        sensor("clear-commands")
        mark = len(daemon.log())
        proc = start_ctl(private_bus.address, *command)
        assert wait_until(lambda: sensor.state()["capturing"] == "1", 15)
        proc.send_signal(signal.SIGINT)
        out, err = proc.communicate(timeout=15)
        assert proc.returncode == 130
        assert "interrupted: stopping the " in err
        assert "stopped" in err.splitlines()[-1]
        log = daemon.log()[mark:]
        assert stop in log
        assert "--rcved: id= claimed=0" in log[log.index(stop):]
        assert END_CAPTURE in sensor("commands").upper()
        assert sensor.state()["claimed"] == "0"
        assert not os.path.exists(os.path.join(daemon.template_dir, "carol"))

    def test_another_programs_release_does_not_end_ours(self, private_bus, bus, daemon, sensor):
        # The daemon is paused while vorl2547-ctl claims; another program's
        # release is queued behind that claim and before the enrollment. The
        # claim is vorl2547-ctl's, so the release is refused and the
        # enrollment goes on.
        sensor("lift")
        proc = None
        try:
            with paused(daemon):
                # verify: no listing before the claim, which would come after
                # the release.
                proc = start_ctl(private_bus.address, "verify")
                # Connected; its two match rules and the claim follow at once.
                connection_of(bus, proc.pid)
                time.sleep(1.0)
                send_call_no_wait(bus, "Claim", "sb", ["other", False])
                time.sleep(0.3)
            assert wait_until(lambda: sensor.state()["capturing"] == "1", 15)
            assert proc.poll() is None
            proc.send_signal(signal.SIGINT)
            out, err = proc.communicate(timeout=30)
        finally:
            if proc is not None and proc.poll() is None:
                proc.kill()
                proc.wait()
        assert proc.returncode == 130, err
        assert "claimed by another client" in daemon.log()

    def test_timeout_of_a_paused_daemon(self, private_bus, daemon):
        with paused(daemon):
            t0 = time.monotonic()
            out = run_ctl(private_bus.address, "--timeout", "1", "status")
            took = time.monotonic() - t0
        assert out.returncode == 2
        assert out.stderr == "vorl2547-ctl: the fingerprint daemon did not answer in time\n"
        assert took < 3

    def test_status_signals_of_other_peers_are_not_believed(self, private_bus, bus, daemon, sensor):
        sensor("lift")
        proc = start_ctl(private_bus.address, "verify")
        assert wait_until(lambda: sensor.state()["capturing"] == "1", 15)
        me = connection_of(bus, proc.pid)
        fake_status(bus, "VerifyStatus", "mallory", 0, "")
        fake_status(bus, "VerifyStatus", "mallory", 0, "", destination=me)
        time.sleep(0.5)
        assert proc.poll() is None
        proc.send_signal(signal.SIGINT)
        out, _ = proc.communicate(timeout=15)
        assert proc.returncode == 130 and "mallory" not in out

    def test_daemon_leaving_mid_run_ends_the_command(self, private_bus, daemon, sensor):
        sensor("lift")
        proc = start_ctl(private_bus.address, "enroll", "--any-user", "erin", "x")
        assert wait_until(lambda: sensor.state()["capturing"] == "1", 15)
        os.kill(daemon_pid(daemon), signal.SIGKILL)
        out, err = proc.communicate(timeout=15)
        assert proc.returncode == 2
        assert "the fingerprint daemon went away" in err
