"""The emulated sensor for black-box tests: vorl2547-sim runs the daemon and
takes control commands on a socket.

A test module imports the `daemon_wrapper` and `sensor` fixtures from here.
A test class may set SIM_ARGS (extra vorl2547-sim options, e.g.
["--unplugged"]) to start the daemon with another sensor setup.
"""

import os
import shutil
import subprocess
import tempfile

import pytest

from conftest import BUILD

SIM = os.path.join(BUILD, "sim", "vorl2547-sim")


class Sensor:
    def __init__(self, socket_path):
        self.socket = socket_path

    def __call__(self, *command):
        """Sends one control command; returns the answer after "ok"."""
        out = subprocess.run([SIM, "--ctl", self.socket] + [str(c) for c in command],
                             capture_output=True, text=True, timeout=30)
        answer = out.stdout.strip()
        if not answer.startswith("ok"):
            raise AssertionError("sensor %s: %s %s" % (" ".join(map(str, command)), answer,
                                                     out.stderr))
        return answer[2:].strip()

    def state(self):
        return dict(kv.split("=") for kv in self("state").split())


@pytest.fixture(scope="class")
def sensor_dir():
    d = tempfile.mkdtemp(prefix="vorl2547-sim-")
    yield d
    shutil.rmtree(d, ignore_errors=True)


@pytest.fixture(scope="class")
def daemon_wrapper(request, sensor_dir):
    if not os.path.exists(SIM):
        pytest.skip("vorl2547-sim is not built")
    extra = list(getattr(request.cls, "SIM_ARGS", []))
    return [SIM, "--socket", os.path.join(sensor_dir, "sensor.sock")] + extra + ["--"]


@pytest.fixture(scope="class")
def sensor(daemon, sensor_dir):
    return Sensor(os.path.join(sensor_dir, "sensor.sock"))
