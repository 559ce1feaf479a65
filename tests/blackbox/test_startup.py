"""Start-up of the daemon: the name, the start-up lines, where the log goes."""

import re

import dbus

from conftest import POLICY_FILE, PROPS, Daemon, call, daemon_argv
from privbus import PrivateBus

START_LINES = re.compile(r"\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\n1\.0\.9\nuse normal\n")


class TestStartup:
    def test_start_lines_are_logged_first(self, daemon):
        daemon.wait_log("use normal")
        assert START_LINES.match(daemon.log()), daemon.log()

    def test_second_daemon_is_queued_and_exits_1_quietly(self, private_bus, daemon,
                                                         daemon_wrapper):
        second = Daemon(private_bus.address, daemon_argv(wrapper=daemon_wrapper)).start()
        try:
            assert second.wait_exit() == 1
            # Its lines reached the file before it went.
            assert START_LINES.match(second.log()), second.log()
            assert "Connection Error" not in second.log()
            assert "Requece name error" not in second.log()
        finally:
            second.stop()

    def test_first_daemon_keeps_the_name(self, bus, daemon):
        assert call(bus, "Get", "ss", ["", "Name"], interface=PROPS) \
            == "Vorl2547"

    def test_missing_log_directory_leaves_stdout(self, daemon_wrapper, tmp_path):
        # Its own bus: the class's daemon holds the name on the shared one.
        with PrivateBus(POLICY_FILE) as other:
            d = Daemon(other.address, daemon_argv(wrapper=daemon_wrapper),
                       log_file=str(tmp_path / "missing" / "vorlenfp2547.log")).start()
            try:
                client = dbus.bus.BusConnection(other.address)
                d.wait_owned(client)
                assert call(client, "Get", "ss", ["", "Type"],
                            interface=PROPS) == 2
                d.wait_log("--rcved: interface= property=Type", source=d.stdout)
                assert not (tmp_path / "missing").exists()
                client.close()
            finally:
                d.stop()

    def test_no_system_bus_is_a_connection_error(self, daemon_wrapper, tmp_path):
        d = Daemon("unix:path=" + str(tmp_path / "no-such-socket"),
                   daemon_argv(wrapper=daemon_wrapper))
        d.start()
        try:
            assert d.wait_exit() == 1
            assert "Connection Error(" in d.log()
        finally:
            d.stop()


class TestWithoutPolicy:
    def test_name_request_refused_by_the_bus(self, daemon_wrapper, tmp_path):
        # A system bus that has not been told about the daemon.
        empty = tmp_path / "empty.conf"
        empty.write_text("<busconfig></busconfig>\n")
        with PrivateBus(str(empty)) as bare:
            d = Daemon(bare.address, daemon_argv(wrapper=daemon_wrapper)).start()
            try:
                assert d.wait_exit() == 1
                assert "Requece name error(" in d.log()
            finally:
                d.stop()
