"""The Debian package and `make install`: what lands where, with which
modes; lintian finds no errors; the package installs into a throwaway root
and is purged without a trace; the installed bus policy and activation file
are accepted by dbus-daemon.

Nothing here touches the machine's own root: dpkg works on a temporary root
(--root, maintainer scripts run outside a chroot with DPKG_ROOT set).
"""

import glob
import os
import shutil
import stat
import subprocess
import sys
import tempfile

import dbus
import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "blackbox"))

from conftest import BUILD, BUS_NAME  # noqa: E402
from privbus import BUS_CONFIG  # noqa: E402

MULTIARCH = subprocess.run(["dpkg-architecture", "-qDEB_HOST_MULTIARCH"], capture_output=True,
                           text=True).stdout.strip()
LIB = "usr/lib/" + MULTIARCH

# Every file a working installation needs, with its mode.
INSTALLED = {
    "usr/libexec/vorl2547/vorl2547d": 0o755,
    "usr/bin/vorl2547-ctl": 0o755,
    LIB + "/libfpalg.so.1.0.0": 0o644,
    LIB + "/security/pam_vorl2547.so": 0o644,
    "usr/share/dbus-1/system.d/com.vorlen.fprint.conf": 0o644,
    "usr/share/dbus-1/system-services/com.vorlen.fprint.service": 0o644,
    "usr/lib/systemd/system/vorl2547.service": 0o644,
    "usr/lib/tmpfiles.d/vorl2547.conf": 0o644,
    "usr/share/man/man1/vorl2547-ctl.1.gz": 0o644,
    "usr/share/man/man8/pam_vorl2547.8.gz": 0o644,
    "usr/share/man/man8/vorl2547d.8.gz": 0o644,
    "usr/share/man/man1/vorl2547-fpalg.1.gz": 0o644,
    "usr/share/man/man1/vorl2547-fpgen.1.gz": 0o644,
    "usr/share/pam-configs/vorl2547": 0o644,
    "etc/pam.d/vorl2547": 0o644,
    "etc/logrotate.d/vorl2547": 0o644,
}
STORE = "usr/share/vezezi-authentication/modes/vorl2547"

if not os.path.exists(os.path.join(BUILD, "CPackConfig.cmake")):
    pytest.skip("the build has no package configuration", allow_module_level=True)


def run(argv, **kw):
    out = subprocess.run(argv, capture_output=True, text=True, timeout=300, **kw)
    assert out.returncode == 0, "%s:\n%s%s" % (" ".join(argv), out.stdout, out.stderr)
    return out


def check_files(root, wanted):
    for path, mode in wanted.items():
        full = os.path.join(root, path)
        assert os.path.isfile(full), path
        assert stat.S_IMODE(os.stat(full).st_mode) == mode, path
        if os.getuid() == 0:
            assert os.stat(full).st_uid == 0, path


@pytest.fixture(scope="module")
def workdir():
    d = tempfile.mkdtemp(prefix="vorl2547-pkg-")
    yield d
    shutil.rmtree(d, ignore_errors=True)


@pytest.fixture(scope="module")
def deb(workdir):
    out_dir = os.path.join(workdir, "deb")
    run(["cpack", "-G", "DEB", "--config", os.path.join(BUILD, "CPackConfig.cmake"),
         "-B", out_dir])
    debs = glob.glob(os.path.join(out_dir, "vorl2547_*.deb"))
    assert len(debs) == 1
    return debs[0]


def dpkg(root, *args):
    return run(["dpkg", "--root=" + root, "--force-not-root", "--force-script-chrootless",
                "--force-depends"] + list(args))


def throwaway_root(workdir):
    root = tempfile.mkdtemp(prefix="root-", dir=workdir)
    admin = os.path.join(root, "var", "lib", "dpkg")
    for sub in ("info", "updates", "triggers"):
        os.makedirs(os.path.join(admin, sub))
    for name in ("status", "available"):
        open(os.path.join(admin, name), "w").close()
    return root


def files_outside_dpkg_db(root):
    found = []
    for dirpath, dirnames, filenames in os.walk(root):
        rel = os.path.relpath(dirpath, root)
        if rel == "var/lib/dpkg" or rel.startswith("var/lib/dpkg/"):
            continue
        found += [os.path.join(rel, n) for n in filenames]
    return found


class TestPackage:
    def test_control_fields(self, deb):
        info = run(["dpkg-deb", "-f", deb]).stdout
        assert "Package: vorl2547\n" in info
        depends = info.split("Depends:")[1].split("\n")[0]
        for dep in ("dbus", "libdbus-1-3", "libusb-1.0-0", "libpam0g"):
            assert dep in depends
        conffiles = subprocess.run(["dpkg-deb", "-I", deb, "conffiles"], capture_output=True,
                                   text=True).stdout
        assert conffiles.split() == ["/etc/pam.d/vorl2547", "/etc/logrotate.d/vorl2547"]

    def test_lintian_reports_no_errors(self, deb):
        out = subprocess.run(["lintian", "--fail-on", "error", "--tag-display-limit", "0", deb],
                             capture_output=True, text=True, timeout=300)
        errors = [line for line in out.stdout.splitlines() if line.startswith("E:")]
        assert errors == [] and out.returncode == 0, out.stdout + out.stderr
        # Every program installed comes with its manual.
        assert "no-manual-page" not in out.stdout

    def test_installs_into_a_throwaway_root_and_purges_cleanly(self, deb, workdir):
        host_store = os.path.exists("/" + STORE)
        root = throwaway_root(workdir)
        dpkg(root, "-i", deb)
        assert os.path.exists("/" + STORE) == host_store
        check_files(root, INSTALLED)
        # The maintainer script made the template store inside the root.
        store = os.path.join(root, STORE)
        assert stat.S_IMODE(os.stat(store).st_mode) == 0o700
        # The daemon finds its library by soname, and the unit names the
        # daemon where it is.
        ldd = run(["ldd", os.path.join(root, "usr/libexec/vorl2547/vorl2547d")],
                  env=dict(os.environ, LD_LIBRARY_PATH=os.path.join(root, LIB))).stdout
        assert "not found" not in ldd and os.path.join(root, LIB, "libfpalg.so.1") in ldd
        with open(os.path.join(root, "usr/lib/systemd/system/vorl2547.service")) as f:
            assert "ExecStart=/usr/libexec/vorl2547/vorl2547d\n" in f.read()
        # An enrolled finger is the user's and a conffile the admin's: both
        # are kept by remove and gone with purge.
        with open(os.path.join(store, "keep"), "w") as f:
            f.write("x")
        dpkg(root, "-r", "vorl2547")
        assert sorted(files_outside_dpkg_db(root)) == ["etc/logrotate.d/vorl2547",
                                                        "etc/pam.d/vorl2547",
                                                        os.path.join(STORE, "keep")]
        dpkg(root, "-P", "vorl2547")
        assert files_outside_dpkg_db(root) == []
        assert not os.path.exists(os.path.join(root, "usr/share/vezezi-authentication"))

    def test_dbus_daemon_accepts_the_installed_policy_and_activation_file(self, deb, workdir):
        root = throwaway_root(workdir)
        dpkg(root, "-i", deb)
        socket = os.path.join(root, "bus")
        config = os.path.join(root, "system.conf")
        with open(config, "w") as f:
            f.write(BUS_CONFIG.format(
                socket=socket,
                policy=os.path.join(root, "usr/share/dbus-1/system.d/com.vorlen.fprint.conf"),
            ).replace("</busconfig>", "  <servicedir>%s</servicedir>\n</busconfig>" %
                      os.path.join(root, "usr/share/dbus-1/system-services")))
        bus = subprocess.Popen(["dbus-daemon", "--config-file=" + config, "--nofork",
                                "--print-address"], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True)
        try:
            address = bus.stdout.readline().strip()
            assert address, bus.stderr.read()
            conn = dbus.bus.BusConnection(address)
            try:
                assert BUS_NAME in conn.list_activatable_names()
                # Root may own the name, as the daemon does.
                assert conn.request_name(BUS_NAME) == dbus.bus.REQUEST_NAME_REPLY_PRIMARY_OWNER
            finally:
                conn.close()
        finally:
            bus.terminate()
            bus.wait(timeout=10)
            bus.stdout.close()
            bus.stderr.close()


def test_make_install_with_destdir(workdir):
    dest = os.path.join(workdir, "destdir")
    run(["cmake", "--install", BUILD, "--prefix", "/usr"], env=dict(os.environ, DESTDIR=dest))
    # Unstripped, but the same files in the same places.
    check_files(dest, INSTALLED)
    assert os.path.islink(os.path.join(dest, LIB, "libfpalg.so.1"))
