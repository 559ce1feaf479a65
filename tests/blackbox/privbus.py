"""A private dbus-daemon configured like a system bus.

The configuration follows the stock system bus: everyone may connect, nobody
may own names or send method calls unless a policy file punches a hole, and
replies and signals flow. The daemon's shipped policy file is included, so
tests see exactly the rights it grants. Nothing here touches the machine's
real system bus.
"""

import os
import subprocess
import tempfile
import time

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <deny own="*"/>
    <deny send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"/>
    <allow send_destination="org.freedesktop.DBus"
           send_interface="org.freedesktop.DBus.Introspectable"/>
    <allow send_destination="org.freedesktop.DBus"
           send_interface="org.freedesktop.DBus.Properties"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Peer"/>
    <deny send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"
          send_member="UpdateActivationEnvironment"/>
  </policy>
  <include>{policy}</include>
</busconfig>
"""


class PrivateBus:
    """A system-like bus in its own directory.

    The directory is world-searchable so that clients running as an
    unprivileged user can reach the socket.
    """

    def __init__(self, policy_file):
        self.policy_file = os.path.abspath(policy_file)
        self.dir = tempfile.mkdtemp(prefix="vorl2547-bus-")
        os.chmod(self.dir, 0o755)
        self.socket = os.path.join(self.dir, "system_bus_socket")
        self.config = os.path.join(self.dir, "system.conf")
        # A file, not a pipe: the bus logs every refused message, and a pipe
        # nobody reads fills up and stops the bus in its tracks.
        self.log = os.path.join(self.dir, "bus.log")
        self.proc = None
        self.address = None

    def start(self, timeout=10.0):
        with open(self.config, "w") as f:
            f.write(BUS_CONFIG.format(socket=self.socket, policy=self.policy_file))
        with open(self.log, "w") as log:
            self.proc = subprocess.Popen(
                ["dbus-daemon", "--config-file=" + self.config, "--nofork", "--print-address"],
                stdout=subprocess.PIPE, stderr=log, text=True)
        line = self.proc.stdout.readline().strip()
        if not line:
            self.proc.wait()
            with open(self.log) as log:
                raise RuntimeError("dbus-daemon did not start: " + log.read())
        self.address = line
        deadline = time.monotonic() + timeout
        while not os.path.exists(self.socket):
            if time.monotonic() > deadline:
                raise RuntimeError("bus socket did not appear")
            time.sleep(0.02)
        return self.address

    def stop(self):
        if self.proc is not None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
            self.proc.stdout.close()
            self.proc = None
        for name in (self.socket, self.config, self.log):
            if os.path.exists(name):
                os.unlink(name)
        os.rmdir(self.dir)

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()
