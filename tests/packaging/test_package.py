"""The Debian packages built from debian/ (vorl2547 and vorl2547-fprintd) and
`make install`: what lands where, with which modes; lintian finds no errors
and no warnings; the packages install into a throwaway root, keep stored
fingers across an upgrade and a removal, and are purged without a trace; the
installed bus policies and activation files are accepted by dbus-daemon.

The packages are built with dpkg-buildpackage in the source tree (as
`make deb` does). Nothing here touches the machine's own root: dpkg works on
a temporary root (--root, maintainer scripts run outside a chroot with
DPKG_ROOT set).
"""

import glob
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile

import dbus
import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "blackbox"))

from conftest import BUILD, BUS_NAME, REPO  # noqa: E402
from privbus import BUS_CONFIG  # noqa: E402

MULTIARCH = subprocess.run(["dpkg-architecture", "-qDEB_HOST_MULTIARCH"], capture_output=True,
                           text=True).stdout.strip()
LIB = "usr/lib/" + MULTIARCH
FPRINT = "net.reactivated.Fprint"

# Every file a working installation needs, with its mode.
DAEMON_FILES = {
    "usr/libexec/vorl2547/vorl2547d": 0o755,
    "usr/bin/vorl2547-ctl": 0o755,
    LIB + "/libfpalg.so.1.0.0": 0o644,
    LIB + "/security/pam_vorl2547.so": 0o644,
    "usr/share/dbus-1/system.d/com.vorlen.fprint.conf": 0o644,
    "usr/share/dbus-1/system-services/com.vorlen.fprint.service": 0o644,
    "usr/lib/tmpfiles.d/vorl2547.conf": 0o644,
    "usr/share/man/man1/vorl2547-ctl.1.gz": 0o644,
    "usr/share/man/man8/pam_vorl2547.8.gz": 0o644,
    "usr/share/man/man8/vorl2547d.8.gz": 0o644,
    "usr/share/man/man1/vorl2547-fpalg.1.gz": 0o644,
    "usr/share/man/man1/vorl2547-fpgen.1.gz": 0o644,
    "usr/share/pam-configs/vorl2547": 0o644,
    "etc/pam.d/vorl2547": 0o644,
    "etc/logrotate.d/vorl2547": 0o644,
    "usr/lib/systemd/system/vorl2547.service": 0o644,
}
FRONTEND_FILES = {
    "usr/libexec/vorl2547/vorl2547-fprintd": 0o755,
    "usr/share/dbus-1/system.d/net.reactivated.Fprint.conf": 0o644,
    "usr/share/dbus-1/system-services/net.reactivated.Fprint.service": 0o644,
    "usr/share/polkit-1/actions/net.reactivated.fprint.device.policy": 0o644,
    "usr/share/man/man8/vorl2547-fprintd.8.gz": 0o644,
    "usr/lib/systemd/system/vorl2547-fprintd.service": 0o644,
}
STORE = "usr/share/vezezi-authentication/modes/vorl2547"

if not (shutil.which("dpkg-buildpackage") and shutil.which("dh")):
    pytest.skip("needs dpkg-dev and debhelper ('make deps')", allow_module_level=True)


def run(argv, **kw):
    out = subprocess.run(argv, capture_output=True, text=True, timeout=900, **kw)
    assert out.returncode == 0, "%s:\n%s%s" % (" ".join(argv), out.stdout[-4000:], out.stderr[-4000:])
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
def debs(workdir):
    """Both binary packages, built as `make deb` builds them, or taken from
    $VORL2547_DEB_DIR (where `make deb` left them) when that is set."""
    version = run(["dpkg-parsechangelog", "-S", "Version"], cwd=REPO).stdout.strip()
    out = os.environ.get("VORL2547_DEB_DIR")
    if not out:
        run(["dpkg-buildpackage", "-b", "-uc", "-us"], cwd=REPO,
            env=dict(os.environ, DEB_BUILD_OPTIONS="parallel=2"))
        out = os.path.join(workdir, "debs")
        os.mkdir(out)
        for f in glob.glob(os.path.join(os.path.dirname(REPO), "vorl2547*_%s_*" % version)):
            shutil.move(f, out)
    found = {os.path.basename(p).split("_")[0]: p
             for p in glob.glob(os.path.join(out, "*_%s_*.deb" % version))}
    assert {"vorl2547", "vorl2547-fprintd"} <= set(found)
    return found


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


def conffiles(deb):
    listed = subprocess.run(["dpkg-deb", "-I", deb, "conffiles"], capture_output=True, text=True).stdout
    files = run(["dpkg-deb", "-c", deb]).stdout.splitlines()
    under_etc = sorted(line.split()[-1].lstrip(".") for line in files
                       if line.startswith("-") and line.split()[-1].startswith("./etc/"))
    assert sorted(listed.split()) == under_etc
    return under_etc


class TestPackages:
    def test_control_fields(self, debs):
        info = run(["dpkg-deb", "-f", debs["vorl2547"]]).stdout
        depends = info.split("\nDepends:")[1].split("\n")[0]
        for dep in ("dbus", "libdbus-1-3", "libusb-1.0-0", "libpam0g", "fonts-dejavu-core"):
            assert dep in depends
        # Everything under /etc is the admin's: a conffile.
        assert {"/etc/pam.d/vorl2547", "/etc/logrotate.d/vorl2547"} <= set(conffiles(debs["vorl2547"]))
        # The front end takes fprintd's place: the two cannot share the bus
        # name, its policy and activation file; libpam-fprintd wants fprintd.
        front = run(["dpkg-deb", "-f", debs["vorl2547-fprintd"]]).stdout
        version = run(["dpkg-deb", "-f", debs["vorl2547"], "Version"]).stdout.strip()
        assert re.search(r"^Depends: vorl2547 \(= %s\)" % re.escape(version), front, re.M)
        for field in ("Conflicts", "Replaces", "Provides"):
            assert re.search(r"^%s: fprintd\b" % field, front, re.M), field

    def test_lintian_reports_no_errors_and_no_warnings(self, debs):
        out = subprocess.run(["lintian", "--tag-display-limit", "0", debs["vorl2547"],
                              debs["vorl2547-fprintd"]], capture_output=True, text=True, timeout=600)
        tags = [line for line in out.stdout.splitlines() if line[:2] in ("E:", "W:")]
        assert tags == [], out.stdout + out.stderr
        # Every program installed comes with its manual, whatever severity
        # lintian gives the tag.
        assert "no-manual-page" not in out.stdout

    def test_maintainer_scripts_come_from_debhelper(self, debs, workdir):
        control = os.path.join(workdir, "control")
        run(["dpkg-deb", "-e", debs["vorl2547"], control])
        with open(os.path.join(control, "postinst")) as f:
            postinst = f.read()
        assert "dh_installtmpfiles" in postinst and "dh_installsystemd" in postinst
        with open(os.path.join(control, "shlibs")) as f:
            assert f.read().startswith("libfpalg 1 vorl2547 (>= ")

    def test_install_upgrade_remove_purge_in_a_throwaway_root(self, debs, workdir):
        host_store = os.path.exists("/" + STORE)
        root = throwaway_root(workdir)
        dpkg(root, "-i", debs["vorl2547"], debs["vorl2547-fprintd"])
        assert os.path.exists("/" + STORE) == host_store
        check_files(root, dict(DAEMON_FILES, **FRONTEND_FILES))
        with open(os.path.join(root, "usr/lib/systemd/system/vorl2547-fprintd.service")) as f:
            assert "ExecStart=/usr/libexec/vorl2547/vorl2547-fprintd\n" in f.read()
        store = os.path.join(root, STORE)
        if shutil.which("systemd-tmpfiles"):
            # Made by the tmpfiles entry at installation, root's alone.
            assert stat.S_IMODE(os.stat(store).st_mode) == 0o700
        os.makedirs(os.path.join(store, "alice"), exist_ok=True)
        with open(os.path.join(store, "alice", "right-index-finger.Data"), "wb") as f:
            f.write(bytes(28000))
        # The daemon finds its library by soname.
        ldd = run(["ldd", os.path.join(root, "usr/libexec/vorl2547/vorl2547d")],
                  env=dict(os.environ, LD_LIBRARY_PATH=os.path.join(root, LIB))).stdout
        assert "not found" not in ldd and os.path.join(root, LIB, "libfpalg.so.1") in ldd
        # An upgrade runs every maintainer script's upgrade path; stored
        # fingers are kept, and a log an older version left world-readable
        # is closed to others.
        log = os.path.join(root, "var/log/vorlenfp2547.log")
        os.makedirs(os.path.dirname(log), exist_ok=True)
        with open(log, "w") as f:
            f.write("x\n")
        os.chmod(log, 0o644)
        dpkg(root, "-i", debs["vorl2547"], debs["vorl2547-fprintd"])
        assert os.path.getsize(os.path.join(store, "alice", "right-index-finger.Data")) == 28000
        assert stat.S_IMODE(os.stat(log).st_mode) == 0o640
        os.unlink(log)
        # A removal keeps the fingers and the admin's conffile; a purge takes both.
        dpkg(root, "-r", "vorl2547-fprintd", "vorl2547")
        # (debhelper keeps its record of the unit's state until the purge.)
        left = [f for f in files_outside_dpkg_db(root) if not f.startswith("var/lib/systemd/deb-systemd-helper")]
        assert sorted(left) == sorted([c.lstrip("/") for c in conffiles(debs["vorl2547"])] +
                                      [os.path.join(STORE, "alice", "right-index-finger.Data")])
        dpkg(root, "-P", "vorl2547-fprintd", "vorl2547")
        assert files_outside_dpkg_db(root) == []
        assert not os.path.exists(os.path.join(root, "usr/share/vezezi-authentication"))

    def test_dbus_daemon_accepts_the_installed_policies_and_activation_files(self, debs, workdir):
        root = throwaway_root(workdir)
        dpkg(root, "-i", debs["vorl2547"], debs["vorl2547-fprintd"])
        socket = os.path.join(root, "bus")
        config = os.path.join(root, "system.conf")
        system_d = os.path.join(root, "usr/share/dbus-1/system.d")
        with open(config, "w") as f:
            f.write(BUS_CONFIG.format(socket=socket, policy=os.path.join(system_d, "com.vorlen.fprint.conf"))
                    .replace("</busconfig>", "  <include>%s</include>\n  <servicedir>%s</servicedir>\n"
                             "</busconfig>" % (os.path.join(system_d, "net.reactivated.Fprint.conf"),
                                               os.path.join(root, "usr/share/dbus-1/system-services"))))
        bus = subprocess.Popen(["dbus-daemon", "--config-file=" + config, "--nofork",
                                "--print-address"], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True)
        try:
            address = bus.stdout.readline().strip()
            assert address, bus.stderr.read()
            conn = dbus.bus.BusConnection(address)
            try:
                for name in (BUS_NAME, FPRINT):
                    assert name in conn.list_activatable_names()
                    # Root may own the names, as the daemon and the front end do.
                    assert conn.request_name(name) == dbus.bus.REQUEST_NAME_REPLY_PRIMARY_OWNER
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
    check_files(dest, dict(DAEMON_FILES, **FRONTEND_FILES))
    assert os.path.islink(os.path.join(dest, LIB, "libfpalg.so.1"))
