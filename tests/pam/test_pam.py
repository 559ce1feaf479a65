"""pam_vorl2547 under pamtester, on the real daemon and the emulated sensor.

pam_wrapper (Debian's libpam-wrapper) points libpam at service files in a
temporary directory, so nothing under /etc/pam.d is touched. pamtester
reports the module's result in pam_strerror's words.
"""

import ctypes.util
import os
import shutil
import subprocess
import sys
import tempfile
import time

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "blackbox"))

from client_tools import (CTL, client_env, connection_of, enroll_with_ctl, fake_status,  # noqa: E402
                          wait_claimed)
from conftest import BUILD, REPO, bus, daemon, private_bus, wait_until  # noqa: E402,F401
from emulated_sensor import daemon_wrapper, sensor, sensor_dir  # noqa: E402,F401  (fixtures)

MODULE = os.path.join(BUILD, "pam", "pam_vorl2547.so")
PAMTESTER = shutil.which("pamtester")
WRAPPER = ctypes.util.find_library("pam_wrapper")
if not (os.path.exists(MODULE) and PAMTESTER and WRAPPER):
    pytest.skip("needs the built module, pamtester and libpam-wrapper", allow_module_level=True)

SUCCESS = "pamtester: successfully authenticated"
UNAVAIL = "pamtester: Authentication service cannot retrieve authentication info"
MAXTRIES = "pamtester: Have exhausted maximum number of retries for service"
PROMPT = "Place your finger on the sensor"

ALICE, BOB, STRANGER = 3, 11, 7
UNSEEN = 40


def profile_auth_line():
    """The module's line of the shipped pam-auth-update profile, as it would
    land in common-auth ("end" becomes a jump past the password module)."""
    with open(os.path.join(REPO, "pam", "pam-configs", "vorl2547")) as f:
        lines = f.read().splitlines()
    line = lines[lines.index("Auth:") + 1].strip()
    return "auth " + line.replace("success=end", "success=done").replace("pam_vorl2547.so", MODULE)


def result(out):
    """pamtester's verdict: its prompts may come before or after it."""
    verdicts = [line for line in out.splitlines() if line.startswith("pamtester: ")]
    assert len(verdicts) == 1, out
    return verdicts[0]


class Pam:
    """Service files in a private directory, and pamtester run against them."""

    def __init__(self, address):
        self.address = address
        self.dir = tempfile.mkdtemp(prefix="vorl2547-pam-")
        # pam_wrapper falls back to "other" for unknown services.
        self.service("other", "auth required pam_deny.so")

    def service(self, name, *auth_lines):
        with open(os.path.join(self.dir, name), "w") as f:
            f.write("\n".join(auth_lines) + "\naccount required pam_permit.so\n")
        return name

    def module(self, name, options=""):
        return self.service(name, "auth required %s %s" % (MODULE, options))

    def env(self):
        return client_env(self.address, LD_PRELOAD=WRAPPER, PAM_WRAPPER="1",
                          PAM_WRAPPER_SERVICE_DIR=self.dir)

    def authenticate(self, service, user, *items, timeout=90):
        argv = [PAMTESTER]
        for item in items:
            argv += ["-I", item]
        t0 = time.monotonic()
        out = subprocess.run(argv + [service, user, "authenticate"], env=self.env(),
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                             timeout=timeout, stdin=subprocess.DEVNULL)
        return out.returncode, out.stdout, time.monotonic() - t0

    def start(self, service, user):
        return subprocess.Popen([PAMTESTER, service, user, "authenticate"], env=self.env(),
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                stdin=subprocess.DEVNULL)

    def close(self):
        shutil.rmtree(self.dir, ignore_errors=True)


@pytest.fixture(scope="class")
def pam(private_bus):
    p = Pam(private_bus.address)
    yield p
    p.close()


class TestWithoutDaemon:
    def test_no_daemon_is_authinfo_unavail_at_once(self, pam):
        rc, out, took = pam.authenticate(pam.module("fp"), "alice")
        assert (rc, result(out)) == (1, UNAVAIL)
        assert PROMPT not in out
        assert took < 3

    def test_no_bus_is_authinfo_unavail(self, pam):
        pam.address, address = "unix:path=/nonexistent/bus", pam.address
        try:
            rc, out, _ = pam.authenticate(pam.module("fp"), "alice")
        finally:
            pam.address = address
        assert result(out) == UNAVAIL

    def test_a_user_name_that_is_not_utf8_is_unknown(self, pam):
        # libdbus would abort pamtester rather than send it.
        rc, out, _ = pam.authenticate(pam.module("fp"), "x\udcffy")
        assert result(out) == "pamtester: User not known to the underlying authentication module"

    def test_shipped_profile_falls_through_to_the_next_module(self, pam):
        service = pam.service("login", profile_auth_line(), "auth required pam_permit.so")
        rc, out, _ = pam.authenticate(service, "alice")
        assert (rc, result(out)) == (0, SUCCESS)


class TestWithDaemon:
    def test_right_users_finger_succeeds_and_the_sensor_is_released(self, private_bus, pam,
                                                                      daemon, sensor):
        enroll_with_ctl(private_bus.address, sensor, "alice", "right-index", ALICE)
        enroll_with_ctl(private_bus.address, sensor, "bob", "left-index", BOB)
        sensor("place-finger", ALICE, UNSEEN)
        mark = len(daemon.log())
        rc, out, _ = pam.authenticate(pam.module("fp"), "alice")
        assert (rc, result(out)) == (0, SUCCESS)
        assert PROMPT in out
        assert "--rcved: id= claimed=0" in daemon.log()[mark:]
        assert wait_claimed(sensor, "0")

    def test_another_users_finger_is_never_a_match(self, pam, daemon, sensor):
        # Only alice's prints are compared; bob's finger is a stranger's here.
        sensor("place-finger", BOB, UNSEEN)
        mark = len(daemon.log())
        rc, out, _ = pam.authenticate(pam.module("fp"), "alice")
        assert result(out) == MAXTRIES
        assert "--rcved: id=alice finger=any" in daemon.log()[mark:]

    def test_tries_go_on_past_one_run_of_the_daemon(self, pam, daemon, sensor):
        sensor("place-finger", STRANGER, 0)
        mark = len(daemon.log())
        rc, out, _ = pam.authenticate(pam.module("fp", "max-tries=7"), "alice")
        assert result(out) == MAXTRIES
        assert out.count("No match, try again") == 6
        assert daemon.log()[mark:].count("handle_Verify") == 2

    def test_fewer_tries_stop_the_run_early(self, pam, daemon, sensor):
        sensor("place-finger", STRANGER, 10)
        mark = len(daemon.log())
        rc, out, _ = pam.authenticate(pam.module("fp", "max-tries=2"), "alice")
        assert result(out) == MAXTRIES
        assert out.count("No match, try again") == 1
        log = daemon.log()[mark:]
        assert "handle_StopVerify" in log and "claimed=0" in log.split("handle_StopVerify")[-1]
        assert wait_claimed(sensor, "0")

    def test_user_without_fingers_is_not_asked_for_one(self, pam, daemon, sensor):
        mark = len(daemon.log())
        rc, out, _ = pam.authenticate(pam.module("fp"), "carol")
        assert result(out) == UNAVAIL
        assert PROMPT not in out
        assert "handle_claim" not in daemon.log()[mark:]

    def test_remote_login_is_not_asked_for_a_finger(self, pam, daemon, sensor):
        rc, out, took = pam.authenticate(pam.module("fp"), "alice", "rhost=far.example")
        assert result(out) == UNAVAIL
        assert PROMPT not in out

    def test_timeout_ends_within_the_configured_time_and_releases(self, pam, daemon, sensor):
        sensor("lift")
        mark = len(daemon.log())
        rc, out, took = pam.authenticate(pam.module("fp", "timeout=4"), "alice")
        assert result(out) == UNAVAIL
        assert PROMPT in out
        # The module keeps time for the stop and the release; the rest is
        # pamtester starting up.
        assert 2.5 < took < 4.5
        log = daemon.log()[mark:]
        assert "handle_StopVerify" in log and "claimed=0" in log.split("handle_StopVerify")[-1]
        assert wait_claimed(sensor, "0")

    def test_status_signals_of_other_peers_are_not_believed(self, pam, bus, daemon, sensor):
        sensor("lift")
        proc = pam.start(pam.module("fp", "timeout=5"), "alice")
        assert wait_until(lambda: sensor.state()["capturing"] == "1", 10)
        me = connection_of(bus, proc.pid)
        for _ in range(5):
            fake_status(bus, "VerifyStatus", "alice", 0, "")
            fake_status(bus, "VerifyStatus", "alice", 0, "", destination=me)
            time.sleep(0.1)
        out, _ = proc.communicate(timeout=30)
        assert result(out) == UNAVAIL


class TestTwoClients:
    def test_a_second_client_is_told_busy_and_only_the_first_is_authenticated(
            self, private_bus, daemon, sensor):
        address = private_bus.address
        enroll_with_ctl(address, sensor, "alice", "right-index", ALICE)
        # Someone else's pamtester, as nobody: the module and its service
        # file where nobody can read them.
        pam = Pam(address)
        try:
            os.chmod(pam.dir, 0o755)
            module = shutil.copy(MODULE, pam.dir)
            service = pam.service("fp-nobody", "auth required %s" % module)
            sensor("lift")
            # Alice's screen locker.
            first = subprocess.Popen([CTL, "verify"], env=client_env(address), text=True,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            try:
                assert wait_until(lambda: sensor.state()["capturing"] == "1", 15)
                t0 = time.monotonic()
                second = subprocess.run(
                    ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                     PAMTESTER, service, "alice", "authenticate"], env=pam.env(), cwd="/",
                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=60,
                    stdin=subprocess.DEVNULL)
                took = time.monotonic() - t0
                assert result(second.stdout) == UNAVAIL
                assert "busy" in second.stdout and PROMPT not in second.stdout
                assert took < 5
                sensor("place-finger", ALICE, UNSEEN)
                out, err = first.communicate(timeout=30)
            finally:
                if first.poll() is None:
                    first.kill()
                    first.wait()
        finally:
            pam.close()
        assert (first.returncode, out) == (0, "alice\n"), err
