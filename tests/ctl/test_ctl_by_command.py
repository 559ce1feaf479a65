"""vorl2547-ctl against scripts/sandbox, grouped by command: what each
refuses before calling the daemon and in which words, and the exit status
of every outcome. Also --help of every tool, and the sandbox's own stop."""

import os
import struct
import subprocess
import sys
import tempfile
import time

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(REPO, "tests", "blackbox"))

from conftest import BUILD, wait_until  # noqa: E402

CTL = os.path.join(BUILD, "ctl", "vorl2547-ctl")
SANDBOX = os.path.join(REPO, "scripts", "sandbox")
PY = "/usr/bin/python3"
ALICE, STRANGER = 3, 7

if not os.path.exists(CTL):
    pytest.skip("vorl2547-ctl is not built", allow_module_level=True)


class Sandbox:
    def __init__(self, *options):
        self.dir = tempfile.mkdtemp(prefix="vorl2547-ctl-sandbox-")
        self.env = dict(os.environ, VORL2547_BUILD=BUILD)
        out = subprocess.run([PY, SANDBOX, "start", "--dir", self.dir, *options], env=self.env,
                             capture_output=True, text=True, timeout=60)
        assert out.returncode == 0, out.stderr
        self.env.update(line.split("=", 1) for line in out.stdout.splitlines())
        self.templates = self.env["VORL2547_TEMPLATE_DIR"]

    def sensor(self, *command):
        out = subprocess.run([PY, SANDBOX, "sensor", "--dir", self.dir, *map(str, command)],
                             env=self.env, capture_output=True, text=True, timeout=30)
        assert out.stdout.startswith("ok"), out.stdout + out.stderr
        return out.stdout[2:].strip()

    def claimed(self):
        return dict(kv.split("=") for kv in self.sensor("state").split())["claimed"]

    def ctl(self, *args, timeout=60):
        return subprocess.run([CTL, *map(str, args)], env=self.env, capture_output=True, text=True,
                              timeout=timeout)

    def stop(self):
        subprocess.run([PY, SANDBOX, "stop", "--dir", self.dir], env=self.env, timeout=60)
        subprocess.run(["rm", "-rf", self.dir])


@pytest.fixture(scope="class")
def sandbox(request):
    box = Sandbox(*getattr(request.cls, "SANDBOX_OPTIONS", []))
    yield box
    box.stop()


def refused(out, sentence):
    return (out.returncode, out.stdout, out.stderr) == (1, "", "vorl2547-ctl: %s\n" % sentence)


class TestVerify:
    def test_user_given_succeeds_only_for_that_user(self, sandbox):
        sandbox.sensor("place-finger", ALICE)
        assert sandbox.ctl("enroll", "--any-user", "alice", "right-index").returncode == 0
        sandbox.sensor("place-finger", ALICE, 40)
        out = sandbox.ctl("verify", "alice")
        assert (out.returncode, out.stdout) == (0, "alice\n"), out.stderr
        out = sandbox.ctl("verify", "--finger", "right-index", "alice")
        assert (out.returncode, out.stdout) == (0, "alice\n"), out.stderr
        sandbox.sensor("place-finger", STRANGER + 1)
        assert sandbox.ctl("enroll", "--any-user", "bob", "thumb").returncode == 0
        sandbox.sensor("place-finger", ALICE, 41)
        out = sandbox.ctl("verify", "bob")
        assert out.returncode == 1 and out.stdout == ""
        assert out.stderr.splitlines()[-1] == "vorl2547-ctl: not bob's finger"
        assert wait_until(lambda: sandbox.claimed() == "0", 10)

    def test_user_with_nothing_to_compare_is_not_asked(self, sandbox):
        assert refused(sandbox.ctl("verify", "carol"), "carol has no enrolled fingers")
        assert refused(sandbox.ctl("verify", "--finger", "pinky", "alice"),
                       "alice has no finger named pinky")
        assert "claimed=0" in sandbox.sensor("state")

    def test_sandbox_and_generator_count_fingers_alike(self, sandbox):
        frame = os.path.join(sandbox.dir, "probe.raw")
        subprocess.run([os.path.join(BUILD, "fpgen", "vorl2547-fpgen"), "--style", "easy", "--finger", str(ALICE),
                        "--impression", "42", "--out", frame], check=True)
        sandbox.sensor("place", frame)
        assert sandbox.ctl("verify", "alice").returncode == 0


class TestEnroll:
    @pytest.mark.parametrize("user,finger,sentence", [
        ("", "x", "the user name is empty"),
        ("a" * 64, "x", "the user name is too long: 64 bytes, at most 63"),
        ("..", "x", "a user name cannot be '.' or '..'"),
        ("zed", "a/b", "a finger name cannot contain '/'"),
        ("zed", "tab\tx", "a finger name cannot contain control characters (tab, line feed...)"),
        ("zed", "f" * 59, "the finger name is too long: 59 bytes, at most 58"),
        ("zed", ".hidden", "a finger name cannot start with '.': it would never be listed"),
    ])
    def test_each_broken_rule_in_its_own_words(self, sandbox, user, finger, sentence):
        assert refused(sandbox.ctl("enroll", "--any-user", "--", user, finger), sentence)

    def test_user_without_account_needs_any_user(self, sandbox):
        out = sandbox.ctl("enroll", "nosuchuser", "x")
        assert refused(out, "there is no user account named nosuchuser "
                            "(--any-user enrolls it anyway)")
        assert not os.path.exists(os.path.join(sandbox.templates, "nosuchuser"))
        sandbox.sensor("place-finger", ALICE)
        out = sandbox.ctl("enroll", "nobody", "x")  # an account: no option needed
        assert out.returncode == 0, out.stderr

    def test_ten_fingers_are_the_most(self, sandbox):
        user_dir = os.path.join(sandbox.templates, "zed")
        os.makedirs(user_dir)
        for i in range(10):
            with open(os.path.join(user_dir, "f%d.Data" % i), "wb") as f:
                f.write(bytes(28000))
        assert refused(sandbox.ctl("enroll", "--any-user", "zed", "x"),
                       "zed already has 10 fingers, the most a user can enroll")

    def test_unknown_option_is_bad_usage(self, sandbox):
        out = sandbox.ctl("enroll", "--finger", "x", "zed", "y")
        assert out.returncode == 2 and "'enroll' does not take the option '--finger'" in out.stderr


class TestListDeleteRename:
    @pytest.mark.parametrize("command", [["list"], ["delete-all"], ["delete", "--", "-x"]])
    def test_user_without_fingers_exits_1(self, sandbox, command):
        args = [command[0], "nosuchuser"] if len(command) == 1 else \
            [command[0], command[1], "nosuchuser", command[2]]
        assert refused(sandbox.ctl(*args), "nosuchuser has no enrolled fingers")
        assert not os.path.exists(os.path.join(sandbox.templates, "nosuchuser"))

    def test_named_finger_must_exist_and_new_name_be_free(self, sandbox):
        sandbox.sensor("place-finger", ALICE)
        assert sandbox.ctl("enroll", "--any-user", "dora", "a").returncode == 0
        sandbox.sensor("place-finger", ALICE + 1)
        assert sandbox.ctl("enroll", "--any-user", "dora", "b").returncode == 0
        assert refused(sandbox.ctl("delete", "dora", "c"), "dora has no finger named c")
        assert refused(sandbox.ctl("rename", "dora", "a", "b"), "dora already has a finger named b")
        assert refused(sandbox.ctl("rename", "dora", "a", ".."), "a finger name cannot be '.' or '..'")
        assert sorted(sandbox.ctl("list", "dora").stdout.split()) == ["a", "b"]


class TestSensorMissing:
    SANDBOX_OPTIONS = ["--unplugged"]

    @pytest.mark.parametrize("command", [["enroll", "--any-user", "zed", "x"], ["verify"]])
    def test_no_sensor_is_an_error(self, sandbox, command):
        out = sandbox.ctl(*command)
        assert (out.returncode, out.stderr) == (2, "vorl2547-ctl: no fingerprint sensor is plugged in\n")

    def test_unplugged_during_a_verification(self, sandbox):
        sandbox.sensor("replug")
        sandbox.sensor("lift")
        proc = subprocess.Popen([CTL, "verify"], env=sandbox.env, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True)
        assert wait_until(lambda: "capturing=1" in sandbox.sensor("state"), 15)
        sandbox.sensor("unplug")
        out, err = proc.communicate(timeout=30)
        assert proc.returncode == 2
        assert err.splitlines()[-1] == "vorl2547-ctl: the sensor went away (was it unplugged?)"


class TestTools:
    @pytest.mark.parametrize("tool", [["ctl", "vorl2547-ctl"], ["fpalg", "tool", "vorl2547-fpalg"],
                                      ["fpgen", "vorl2547-fpgen"], ["sim", "vorl2547-sim"]])
    def test_help_goes_to_stdout_and_exits_0(self, tool):
        out = subprocess.run([os.path.join(BUILD, *tool), "--help"], capture_output=True, text=True)
        assert (out.returncode, out.stderr) == (0, "")
        assert "usage" in out.stdout.lower()

    def test_sandbox_stop_of_a_directory_it_did_not_start_fails(self):
        with tempfile.TemporaryDirectory() as d:
            out = subprocess.run([PY, SANDBOX, "stop", "--dir", d], capture_output=True, text=True)
        assert out.returncode != 0 and "did not start it" in out.stderr

    def test_sandbox_stop_signals_the_fprintd_front_end_too(self):
        # stop signals only processes whose command line names the run
        # directory; the front end would otherwise just outlive its bus.
        box = Sandbox("--fprintd")
        with open(os.path.join(box.dir, "pids")) as f:
            pids = [int(p) for p in f.read().split()]
        named = []
        for pid in pids:
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                named.append(box.dir.encode() in f.read())
        box.stop()
        assert len(pids) == 3 and all(named)
        assert not any(os.path.exists("/proc/%d" % p) for p in pids)

    def test_match_picture_of_a_match_and_a_stranger(self, tmp_path):
        fpgen = os.path.join(BUILD, "fpgen", "vorl2547-fpgen")
        fpalg = os.path.join(BUILD, "fpalg", "tool", "vorl2547-fpalg")

        def image(finger, impression):
            path = str(tmp_path / ("%d_%d.pgm" % (finger, impression)))
            subprocess.run([fpgen, "--style", "easy", "--finger", str(finger), "--impression", str(impression),
                            "--out", path], check=True)
            return path
        stored = str(tmp_path / "stored.Data")
        subprocess.run([fpalg, "enroll", stored] + [image(ALICE, k) for k in range(9)], check=True,
                       capture_output=True)
        for probe, verdict in ((image(ALICE, 40), "MATCH"), (image(STRANGER, 0), "NO MATCH")):
            png = str(tmp_path / "picture.png")
            out = subprocess.run([fpalg, "match", stored, probe, "--png", png], capture_output=True,
                                 text=True)
            assert out.returncode == 0, out.stderr
            score = int(out.stdout.split("score ")[-1].split()[0])
            assert (score > 45) == (verdict == "MATCH")
            with open(png, "rb") as f:
                width, height = struct.unpack(">II", f.read(24)[16:24])
            assert 1000 <= width <= 1600 and height < width
