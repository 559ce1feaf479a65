"""Calls to a daemon whose sensor nobody has claimed.

The engine is not wired to a sensor here, so a claim fails and every gated
call stays refused.
"""

import pytest

from conftest import ERR_FAILED, ERR_INVALID_ARGS, ERR_NO_REPLY, call, call_error


class TestClaimGate:
    @pytest.mark.parametrize("member,signature,args", [
        ("Enroll", "ss", ["root", "right-index"]),
        ("StopEnroll", "", []),
        ("Verify", "s", ["any"]),
    ])
    def test_gated_calls_are_refused(self, bus, daemon, member, signature, args):
        assert call_error(bus, member, signature, args) == (ERR_FAILED, "not claimed.")

    def test_stop_verify_is_not_gated(self, bus, daemon):
        assert call(bus, "StopVerify") is None

    def test_malformed_arguments_come_before_the_gate(self, bus, daemon):
        name, _ = call_error(bus, "Enroll", "s", ["only-one-arg"])
        assert name == ERR_INVALID_ARGS
        daemon.wait_log("handle_Enroll")
        assert "--rcved: id=only-one-arg" not in daemon.log()

class TestClaim:
    def test_claim_without_sensor_fails(self, bus, daemon):
        assert call_error(bus, "Claim", "sb", ["u", True]) == (ERR_FAILED, "OpenDevice fail.")
        # The failed claim did not open the gate.
        assert call_error(bus, "Verify", "s", ["any"]) == (ERR_FAILED, "not claimed.")

    def test_release_without_claim(self, bus, daemon):
        assert call(bus, "Claim", "sb", ["u", False]) is None
        assert call(bus, "Get", "ss", ["", "State"],
                    interface="org.freedesktop.DBus.Properties") in (0, 1)

    @pytest.mark.parametrize("path", ["/", "/com/vorlen", "/some/where/else"])
    def test_claim_at_any_path(self, bus, daemon, path):
        assert call_error(bus, "Claim", "sb", ["u", True], path=path)[1] == "OpenDevice fail."

    def test_claim_without_interface_header(self, bus, daemon):
        assert call_error(bus, "Claim", "sb", ["u", True], interface=None)[1] == \
            "OpenDevice fail."


class TestUnknownMembers:
    def test_introspection_gets_no_reply(self, bus, daemon):
        name, _ = call_error(bus, "Introspect", interface="org.freedesktop.DBus.Introspectable",
                             timeout=3.0)
        assert name == ERR_NO_REPLY
        # The daemon did see it: every message is logged.
        daemon.wait_log("msg /com/vorlen org.freedesktop.DBus.Introspectable "
                        "com.vorlen.fprint Introspect\n")

class TestLogLines:
    def test_message_line_and_its_empty_line(self, bus, daemon):
        call(bus, "StopVerify")
        # The per-message text ends in a line feed, and the writer adds one.
        daemon.wait_log("msg /com/vorlen com.vorlen.fprint com.vorlen.fprint StopVerify\n\n"
                        "handle_StopVerify\n")

    def test_user_id_is_written_literally(self, bus, daemon):
        call(bus, "Claim", "sb", ["%s%n%x", False])
        daemon.wait_log("handle_claim\n--rcved: id=%s%n%x claimed=0\n")
        daemon.wait_log("--rcved: id=%s%n%x claimed=0\n", source=daemon.stdout)
