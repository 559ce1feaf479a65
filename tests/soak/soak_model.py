"""What the soak expects of the daemon, kept beside what it saw.

Runs: every Enroll or Verify answered with an empty reply owes exactly one
final signal (a refusal by signal is the final signal of a run that never
started). Signals come on another connection than the replies, so the next
run's reply may be read before the last run's final signal: the runs owed a
signal wait in order, per member, and each final signal ends the oldest.

Store: the fingers the script enrolled, renamed and deleted, to compare with
the template directory and with ListFingers.
"""

import os

TEMPLATE_SIZE = 28000
ENROLL = "EnrollStatus"
VERIFY = "VerifyStatus"
# The step signals of a run; anything else ends it.
STEP_STATUS = {ENROLL: 2, VERIFY: 3}


class Runs:
    def __init__(self, report):
        self.report = report
        self.started = {ENROLL: 0, VERIFY: 0}
        self.ended = {ENROLL: 0, VERIFY: 0}
        self.refused = 0
        self.current = {ENROLL: [], VERIFY: []}   # (user, finger) of the runs owed a signal
        self.completed = []      # (user, finger) of enrollments that ended with status 0

    def accepted(self, member, user="", finger=""):
        self.started[member] += 1
        self.current[member].append((user, finger))

    def signal(self, member, uid, status, text):
        if status == STEP_STATUS[member]:
            if not self.current[member]:
                self.report("step signal %r with no %s run" % ((member, uid, status, text), member))
            return
        self.ended[member] += 1
        if not self.current[member]:
            self.report("final signal %r without a run owing one" % ((member, uid, status, text),))
            return
        run = self.current[member].pop(0)
        if member == ENROLL:
            if uid != run[0]:
                self.report("EnrollStatus for %r ends the run of %r" % (uid, run[0]))
            if status == 1 and text in ("{subcode:2}", "{subcode:4}"):
                self.refused += 1
            if status == 0:
                self.completed.append(run)
        elif (status == 0) != (uid != ""):
            self.report("VerifyStatus %r: the id goes with status 0 only" % ((uid, status, text),))

    def open_run(self):
        """The member of a run still owed its final signal, or None."""
        return next((m for m in (ENROLL, VERIFY) if self.current[m]), None)

    def forget(self):
        self.current = {ENROLL: [], VERIFY: []}

    def unended(self):
        return sum(self.started.values()) - sum(self.ended.values())


class Store:
    def __init__(self, root):
        self.root = root
        self.fingers = {}       # user -> set of finger names

    def add(self, user, finger):
        self.fingers.setdefault(user, set()).add(finger)

    def delete(self, user, finger):
        self.fingers.get(user, set()).discard(finger)

    def delete_all(self, user):
        self.fingers.pop(user, None)

    def rename(self, user, finger, newname):
        self.delete(user, finger)
        self.add(user, newname)

    def has(self, user, finger):
        return finger in self.fingers.get(user, ())

    def of(self, user):
        return set(self.fingers.get(user, ()))

    def count(self):
        return sum(len(f) for f in self.fingers.values())

    def on_disk(self):
        """{user: {finger: size}} of the template files; names starting with
        "." (a save's temporary file) are no templates and are listed apart."""
        found, hidden = {}, []
        if not os.path.isdir(self.root):
            return found, hidden
        for user in os.listdir(self.root):
            udir = os.path.join(self.root, user)
            if not os.path.isdir(udir):
                continue
            for name in os.listdir(udir):
                if name.startswith("."):
                    hidden.append(os.path.join(user, name))
                elif name.endswith(".Data"):
                    try:
                        size = os.path.getsize(os.path.join(udir, name))
                    except FileNotFoundError:
                        continue     # deleted between listing and stat
                    found.setdefault(user, {})[name[:-5]] = size
        return found, hidden

    def torn(self):
        """Template files of any size but the template's."""
        found, _ = self.on_disk()
        return ["%s/%s.Data (%d bytes)" % (u, f, s)
                for u, fs in found.items() for f, s in fs.items() if s != TEMPLATE_SIZE]

    def differences(self):
        """Templates lost or appeared against what the script did."""
        found, hidden = self.on_disk()
        out = []
        for user in set(found) | set(self.fingers):
            have, want = set(found.get(user, {})), self.of(user)
            out += ["lost %s/%s" % (user, f) for f in sorted(want - have)]
            out += ["unexpected %s/%s" % (user, f) for f in sorted(have - want)]
        out += ["stray temporary file %s" % h for h in hidden]
        return out
