"""Get and GetAll of the standard properties interface."""

import dbus
import pytest

from conftest import ERR_INVALID_ARGS, PROPS, call, call_error


def get(bus, interface, prop):
    return call(bus, "Get", "ss", [interface, prop], interface=PROPS)


class TestProperties:
    @pytest.mark.parametrize("interface", ["", "com.vorlen.fprint", "any.thing"])
    def test_type_for_any_interface(self, bus, daemon, interface):
        value = get(bus, interface, "Type")
        assert value == 2 and isinstance(value, dbus.Int32)

    def test_name_is_a_plain_string(self, bus, daemon):
        value = get(bus, "com.vorlen.fprint", "Name")
        assert value == "Vorl2547" and isinstance(value, dbus.String)

    @pytest.mark.parametrize("prop", ["name", "Nope"])
    def test_unknown_property_gets_one_empty_return(self, bus, daemon, prop):
        assert get(bus, "", prop) is None

    def test_get_all_is_empty(self, bus, daemon):
        assert call(bus, "GetAll", "s", ["com.vorlen.fprint"], interface=PROPS) is None
        daemon.wait_log("--rcved: interface=com.vorlen.fprint \n")

    def test_get_with_one_argument(self, bus, daemon):
        assert call_error(bus, "Get", "s", ["Type"], interface=PROPS)[0] == ERR_INVALID_ARGS
