"""vorl2547-ctl doctor: all well on a sound sandbox; each broken part named
with its fix, and a non-zero exit, on a broken one."""

import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "blackbox"))

from client_tools import CTL, enroll_with_ctl  # noqa: E402
from conftest import bus, daemon, daemon_env, private_bus  # noqa: E402,F401  (fixtures)
from emulated_sensor import daemon_wrapper, sensor, sensor_dir  # noqa: E402,F401  (fixtures)


def doctor(env, testbed=None):
    env = dict(env)
    if testbed:
        env.update(UMOCKDEV_DIR=testbed, LD_PRELOAD="libumockdev-preload.so.0")
    return subprocess.run([CTL, "doctor"], env=env, capture_output=True, text=True, timeout=60)


class TestDoctor:
    def test_all_well(self, private_bus, daemon, sensor):
        os.chmod(daemon.template_dir, 0o700)  # as the package makes it
        enroll_with_ctl(private_bus.address, sensor, "alice", "right-index", 3)
        out = doctor(daemon.env, sensor("testbed"))
        assert out.returncode == 0, out.stdout + out.stderr
        assert "FAIL" not in out.stdout
        assert "present: Vorlen.Usb.0x2541.0x2547.01; no kernel driver" in out.stdout
        assert "version 1.0.9, State 1" in out.stdout
        assert "1 finger stored for 1 user" in out.stdout
        assert "mode 0640" in out.stdout


def test_broken_setup_names_each_fault_and_its_fix(private_bus, tmp_path):
    store = tmp_path / "templates"
    (store / "alice").mkdir(parents=True)
    (store / "alice" / "index.Data").write_bytes(bytes(28000))
    os.chmod(store / "alice" / "index.Data", 0o644)
    log = tmp_path / "log"
    log.write_text("")
    os.chmod(log, 0o666)
    # No emulated sensor and no daemon on this bus.
    out = doctor(daemon_env(private_bus.address, str(log), str(store)))
    assert out.returncode == 1
    lines = out.stdout.splitlines()
    for part, fix in (("sensor", "plug the sensor in"), ("daemon", "systemctl start vorl2547"),
                      ("store", "chmod -R go-rwx " + str(store)), ("log", "chmod 0640 " + str(log))):
        at = next(i for i, line in enumerate(lines) if line.split()[:2] == ["FAIL", part])
        assert fix in lines[at + 1], out.stdout
