"""Claim and State end to end, with the daemon on the emulated sensor."""

from conftest import ERR_FAILED, PROPS, call, call_error, claim, wait_until
from emulated_sensor import daemon_wrapper, sensor, sensor_dir  # noqa: F401  (fixtures)


def state(bus):
    return call(bus, "Get", "ss", ["com.vorlen.fprint", "State"], interface=PROPS)


class TestNoSensorPlugged:
    SIM_ARGS = ["--unplugged"]

    def test_state_is_zero(self, bus, daemon, sensor):
        assert state(bus) == 0
        daemon.wait_log("state=0,num=0\n")

    def test_claim_fails_and_says_why(self, bus, daemon, sensor):
        assert call_error(bus, "Claim", "sb", ["tester", True]) == (ERR_FAILED, "OpenDevice fail.")
        daemon.wait_log("Cannot open device\n")
        assert state(bus) == 0


class TestSensorPlugged:
    def test_state_follows_claim_and_release(self, bus, daemon, sensor):
        assert state(bus) == 1
        assert claim(bus, True) is None
        assert state(bus) == 2
        assert sensor.state()["claimed"] == "1"
        assert claim(bus, False) is None
        assert state(bus) == 1
        assert sensor.state()["claimed"] == "0"

    def test_repeated_claim_reopens(self, bus, daemon, sensor):
        assert claim(bus, True) is None
        assert claim(bus, True) is None
        assert state(bus) == 2
        assert sensor.state()["claimed"] == "1"
        assert claim(bus, False) is None

    def test_unplug_and_replug(self, bus, daemon, sensor):
        assert claim(bus, True) is None
        sensor("unplug")
        assert claim(bus, False) is None
        assert wait_until(lambda: state(bus) == 0, 10)
        assert call_error(bus, "Claim", "sb", ["tester", True])[1] == "OpenDevice fail."
        sensor("replug")
        assert wait_until(lambda: state(bus) == 1, 10)
        assert claim(bus, True) is None
        assert state(bus) == 2
        assert claim(bus, False) is None


    def test_unplug_while_capturing_ends_the_capture_and_replug_recovers(self, bus, daemon,
                                                                         sensor):
        assert claim(bus, True) is None
        assert call(bus, "Enroll", "ss", ["tester", "left-thumb"]) is None
        assert wait_until(lambda: sensor.state()["capturing"] == "1", 10)
        sensor("unplug")
        # The pending receive fails, the next begin-capture cannot be sent,
        # and the run ends; the daemon stays up.
        daemon.wait_log("enroll tx fail", timeout=10)
        assert daemon.proc.poll() is None
        assert claim(bus, False) is None
        sensor("replug")
        assert wait_until(lambda: state(bus) == 1, 10)
        assert claim(bus, True) is None
        assert claim(bus, False) is None


class TestKernelDriverHoldsTheSensor:
    SIM_ARGS = ["--kernel-driver"]

    def test_claim_detaches_it(self, bus, daemon, sensor):
        assert sensor.state()["driver"] == "1"
        assert claim(bus, True) is None
        assert sensor.state()["driver"] == "0"
        assert sensor.state()["claimed"] == "1"


class TestSensorBehindHubs:
    SIM_ARGS = ["--ports", "1.4.2", "--extra-sensor", "3"]

    def test_two_sensors_are_present(self, bus, daemon, sensor):
        assert state(bus) == 1
        daemon.wait_log("state=1,num=2\n")
