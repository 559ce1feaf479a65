"""The front end attacked by an unprivileged local user (nobody), with
dbusmock's polkit holding or refusing its answers."""

import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from frontend import (ALICE, AS_NOBODY, ERROR, HERE, polkit, stack, wait_until)  # noqa: E402,F401
import dbus  # noqa: E402
import pytest  # noqa: E402

PY = "/usr/bin/python3"
ACTION = "net.reactivated.fprint.device."


class TestHeldAuthorization:
    """A call whose check is still pending when its caller releases the device
    must not act on the next claim: that is another user's."""

    @pytest.mark.parametrize("member,arg,action", [("EnrollStart", "left-thumb", "enroll"),
                                                   ("DeleteEnrolledFinger", "right-index-finger", "enroll"),
                                                   ("VerifyStart", "any", "verify")])
    def test_answered_check_does_not_act_on_the_next_claim(self, stack, polkit, member, arg, action):
        if "right-index-finger.Data" not in stack.stored("root"):
            stack.enroll("root", "right-index-finger", ALICE)
        polkit.allow("verify", "enroll")
        attacker = subprocess.Popen(AS_NOBODY + [PY, os.path.join(HERE, "held_call_as.py"), member, arg],
                                    env=stack.env(), stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        device = stack.device()

        def step():
            attacker.stdin.write("\n")
            attacker.stdin.flush()

        try:
            assert attacker.stdout.readline().strip() == "claimed"
            polkit.mock.SimulateHangActions([ACTION + action])
            step()
            # The check of the attacker's call waits, as behind a password dialog.
            assert wait_until(lambda: polkit.mock.HaveHangingCalls(), 10, step=0.1)
            step()
            assert attacker.stdout.readline().strip() == "released"
            device.Claim("")
            polkit.mock.SimulateHangActions([])
            polkit.mock.ReleaseHangingCalls()
            assert attacker.stdout.readline().strip().startswith("error " + ERROR), member
            assert stack.stored("root") == ["right-index-finger.Data"]
            # Root's claim is idle: its own run starts.
            device.EnrollStart("left-thumb")
            device.EnrollStop()
        finally:
            polkit.mock.SimulateHangActions([])
            polkit.mock.ReleaseHangingCalls()
            attacker.kill()
            attacker.wait()
            try:
                device.Release()
            except dbus.exceptions.DBusException:
                pass
