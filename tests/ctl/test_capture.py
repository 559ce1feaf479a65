"""vorl2547-ctl capture: the frames the emulated sensor sent, byte for byte,
and the two refusals (no sensor; the sensor held by the daemon)."""

import os
import struct
import subprocess
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "blackbox"))

from client_tools import CTL, client_env  # noqa: E402
from conftest import BUILD, bus, claim, daemon, private_bus  # noqa: E402,F401  (fixtures)
from emulated_sensor import daemon_wrapper, sensor, sensor_dir  # noqa: E402,F401  (fixtures)

FPGEN = os.path.join(BUILD, "fpgen", "vorl2547-fpgen")
FINGER = 3


def unpack(raw):
    """The 96 x 96 12-bit samples of a packed sensor frame."""
    out = [0] * (96 * 96)
    for y in range(96):
        for x in range(96):
            r, i = x % 4, x // 4
            g = 144 * y + 36 * r + 3 * (i // 2)
            out[96 * y + x] = ((raw[g] << 4) | (raw[g + 2] >> 4)) if i % 2 == 0 else \
                ((raw[g + 1] << 4) | (raw[g + 2] & 0x0F))
    return out


def read_pgm16(path):
    with open(path, "rb") as f:
        data = f.read()
    header = data.split(b"\n", 3)
    assert header[0] == b"P5" and header[1] == b"96 96" and header[2] == b"4095"
    return list(struct.unpack(">9216H", header[3]))


def capture(sensor, address, *args):
    """vorl2547-ctl capture on the emulated sensor (the preload library and
    the testbed of the running vorl2547-sim)."""
    env = client_env(address, UMOCKDEV_DIR=sensor("testbed"), LD_PRELOAD="libumockdev-preload.so.0")
    return subprocess.run([CTL, "capture"] + [str(a) for a in args], env=env, capture_output=True,
                          text=True, timeout=60)


class TestCapture:
    def test_writes_exactly_the_frames_the_sensor_sent(self, private_bus, daemon, bus, sensor, tmp_path):
        sensor("place-finger", FINGER)  # impressions 0, 1, ... one per frame
        out = capture(sensor, private_bus.address, "--count", 2, "--out", tmp_path / "f.pgm")
        assert out.returncode == 0, out.stderr
        for k in (0, 1):
            raw = tmp_path / ("sent%d.raw" % k)
            subprocess.run([FPGEN, "--style", "easy", "--finger", str(FINGER), "--impression", str(k),
                            "--out", str(raw)],
                           check=True, capture_output=True)
            assert read_pgm16(tmp_path / ("f-%d.pgm" % (k + 1))) == unpack(raw.read_bytes())
            assert (tmp_path / ("f-%d.preview.pgm" % (k + 1))).read_bytes().startswith(b"P5\n96 96\n255\n")
        lines = out.stdout.splitlines()
        assert len(lines) == 2 and all("finger yes" in line for line in lines), out.stdout
        # The sensor was let go: the daemon can claim it again.
        assert sensor.state()["claimed"] == "0"
        claim(bus)
        claim(bus, False)

    def test_png_keeps_sixteen_bits(self, private_bus, daemon, sensor, tmp_path):
        sensor("place-finger", FINGER, 5)
        out = capture(sensor, private_bus.address, "--out", tmp_path / "f.png")
        assert out.returncode == 0, out.stderr
        ihdr = (tmp_path / "f.png").read_bytes()[16:25]
        assert struct.unpack(">IIB", ihdr) == (96, 96, 16)

    def test_refuses_while_the_daemon_holds_the_sensor(self, private_bus, daemon, bus, sensor, tmp_path):
        sensor("place-finger", FINGER)
        claim(bus)
        try:
            out = capture(sensor, private_bus.address, "--out", tmp_path / "f.pgm")
            assert out.returncode == 2
            assert "the daemon holds the sensor" in out.stderr
            # Without the bus it cannot ask the daemon; the kernel's claim
            # (here the emulated usbfs) still keeps it out.
            out = capture(sensor, "unix:path=/nonexistent/bus", "--out", tmp_path / "f.pgm")
            assert out.returncode == 2
            assert "held by another program" in out.stderr
            assert not (tmp_path / "f.pgm").exists()
        finally:
            claim(bus, False)


class TestNoSensor:
    SIM_ARGS = ["--unplugged"]

    def test_says_so_and_exits_2(self, private_bus, daemon, sensor, tmp_path):
        out = capture(sensor, private_bus.address, "--out", tmp_path / "f.pgm")
        assert out.returncode == 2
        assert "no sensor found" in out.stderr
