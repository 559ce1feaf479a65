"""Debian's pam_fprintd.so under pamtester and pam_wrapper, talking to
vorl2547-fprintd: a finger logs in only its own user, and no finger falls
through to the next module."""

import ctypes.util
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from frontend import ALICE, BOB, UNSEEN, stack  # noqa: E402,F401

MODULES = glob.glob("/lib/*/security/pam_fprintd.so") + glob.glob("/usr/lib/*/security/pam_fprintd.so")
PAMTESTER = shutil.which("pamtester")
WRAPPER = ctypes.util.find_library("pam_wrapper")
if not (MODULES and PAMTESTER and WRAPPER):
    pytest.skip("needs libpam-fprintd, pamtester and libpam-wrapper", allow_module_level=True)

SUCCESS = "pamtester: successfully authenticated"
# pam_fprintd answers PAM_MAXTRIES when its tries end without a match.
MAXTRIES = "pamtester: Have exhausted maximum number of retries for service"


@pytest.fixture(scope="class")
def pam_dir():
    d = tempfile.mkdtemp(prefix="vorl2547-pam-fprintd-")
    # pam_wrapper falls back to "other" for unknown services.
    for name, lines in {
        "other": ["auth required pam_deny.so"],
        # One try, as Debian's pam-auth-update profile of libpam-fprintd has it.
        "finger-only": ["auth required %s max-tries=1 timeout=10" % MODULES[0]],
        # The profile's line: a finger ends the stack, anything else goes on.
        "finger-then-next": ["auth [success=done default=ignore] %s max-tries=1 timeout=10" % MODULES[0],
                             "auth required pam_permit.so"],
    }.items():
        with open(os.path.join(d, name), "w") as f:
            f.write("\n".join(lines) + "\naccount required pam_permit.so\n")
    yield d
    shutil.rmtree(d, ignore_errors=True)


def authenticate(stack, pam_dir, service, user):
    t0 = time.monotonic()
    out = subprocess.run([PAMTESTER, service, user, "authenticate"], stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, text=True, timeout=90, stdin=subprocess.DEVNULL,
                         env=stack.env(LD_PRELOAD=WRAPPER, PAM_WRAPPER="1",
                                       PAM_WRAPPER_SERVICE_DIR=pam_dir))
    verdict = [line for line in out.stdout.splitlines() if line.startswith("pamtester: ")]
    return verdict, out.stdout, time.monotonic() - t0


class TestPamFprintd:
    def test_alices_finger_logs_in_alice(self, stack, pam_dir):
        stack.enroll("alice", "right-index-finger", ALICE)
        stack.enroll("bob", "right-index-finger", BOB)
        stack.sensor("place-finger", ALICE, UNSEEN)
        verdict, out, _ = authenticate(stack, pam_dir, "finger-only", "alice")
        assert verdict == [SUCCESS], out

    def test_bobs_enrolled_finger_does_not_log_in_alice(self, stack, pam_dir):
        stack.sensor("place-finger", BOB, UNSEEN)
        verdict, out, _ = authenticate(stack, pam_dir, "finger-only", "alice")
        assert verdict == [MAXTRIES], out
        # The front end is free again for the next login.
        verdict, out, _ = authenticate(stack, pam_dir, "finger-only", "bob")
        assert verdict == [SUCCESS], out

    def test_no_finger_times_out_to_the_next_module(self, stack, pam_dir):
        stack.sensor("lift")
        verdict, out, took = authenticate(stack, pam_dir, "finger-then-next", "alice")
        assert verdict == [SUCCESS], out
        assert "finger" in out.lower()  # the module did ask for the finger
        assert 9 < took < 30
