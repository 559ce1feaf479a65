"""Frames as a real sensor sends them (its own background and gain, column
offsets, dead pixels, noise; a touch with no finger; half a finger): a bare
sensor never becomes a template, a real finger still enrolls, and half of it
still verifies."""

import os
import signal
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "blackbox"))

from client_tools import run_ctl, start_ctl  # noqa: E402
from conftest import bus, daemon, private_bus, wait_until  # noqa: E402,F401  (fixtures)
from emulated_sensor import daemon_wrapper, sensor, sensor_dir  # noqa: E402,F401  (fixtures)

SENSOR = "level 2600 gain 0.6 columns 60 noise 20 dead 8"


class TestRealSensorFrames:
    def test_bare_sensor_makes_no_template_and_a_real_finger_still_enrolls(self, private_bus, daemon, sensor):
        sensor("artefacts", *SENSOR.split())
        sensor("place-empty")
        before = int(sensor.state()["frames"])
        ctl = start_ctl(private_bus.address, "enroll", "--any-user", "alice", "right-index")
        assert wait_until(lambda: int(sensor.state()["frames"]) >= before + 4, 30)
        ctl.send_signal(signal.SIGINT)
        out, err = ctl.communicate(timeout=30)
        assert "touch accepted" not in out + err
        assert not os.path.exists(os.path.join(daemon.template_dir, "alice", "right-index.Data"))
        assert "no finger on the frame" in daemon.log()

        sensor("place-finger", 3)
        out = run_ctl(private_bus.address, "enroll", "--any-user", "alice", "right-index")
        assert out.returncode == 0, out.stdout + out.stderr

        sensor("artefacts", "half", "on")
        sensor("place-finger", 3, 40)
        out = run_ctl(private_bus.address, "verify", "alice")
        assert out.returncode == 0 and out.stdout == "alice\n", out.stdout + out.stderr
