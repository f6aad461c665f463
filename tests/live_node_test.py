"""Bases that several programs write at once, as on a live node (Linux):
two kelvutil copy runs into one base of each format, crashmail tossing into
a JAM area while kelvutil copy appends to it, another program holding a
format's lock (fcntl on byte 0, as crashmail takes it), and copies killed
at random moments. What a base holds is read with kelvutil list, show and
check; the messages come from packets tests/fidofiles.py makes.

Usage: live_node_test.py KELVUTIL WRITE_FAULTS  (more unittest arguments may follow)
WRITE_FAULTS is the library loaded with LD_PRELOAD to make every write to a
file wait a little, so that copies overlap and kills fall between writes.
"""
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fidofiles as ff  # noqa: E402

KELVUTIL = None
WRITE_FAULTS = None
# A base of each format by its type letter, and the file that carries its lock.
KINDS = {"S": ("sq", "sq.sqd"), "J": ("jam", "jam.jhr"), "P": ("out.pkt", "out.pkt"), "F": ("msg", None)}


def kelvutil(*args, slow=0, quiet=False, faults=None):
    """Starts kelvutil; slow: the longest wait before each write, in µs;
    quiet: its output goes nowhere; faults: more settings of WRITE_FAULTS."""
    env = dict(os.environ)
    if slow or faults:
        env.update(LD_PRELOAD=WRITE_FAULTS, SLOW_WRITES_US=str(slow), **(faults or {}))
    out = subprocess.DEVNULL if quiet else subprocess.PIPE
    return subprocess.Popen([KELVUTIL] + list(args), stdout=out, stderr=out, env=env)


def run(*args, slow=0):
    p = kelvutil(*args, slow=slow)
    out, err = p.communicate(timeout=120)
    return p.returncode, out.decode("cp866"), err.decode("cp866")


def side_by_side(work, cases):
    """Runs work(*case) for every case at once, each in a thread of its own."""
    threads = [threading.Thread(target=work, args=case) for case in cases]
    for t in threads:
        t.start()
    for t in threads:
        t.join()


class Live(unittest.TestCase):
    maxDiff = None

    def folder(self):
        d = tempfile.mkdtemp(prefix="kelv-live-")
        self.addCleanup(shutil.rmtree, d, True)
        return d

    def packet(self, d, name, subjects):
        path = os.path.join(d, name)
        with open(path, "wb") as f:
            f.write(ff.packet_bytes(subjects))
        return "P" + path

    def base(self, d, kind, subjects):
        """A base of the kind in d holding the messages of subjects."""
        base = kind + os.path.join(d, KINDS[kind][0])
        hop = ["--pkt-from", "2:5020/1", "--pkt-to", "2:5020/3"] if kind == "P" else []
        rc, out, err = run("copy", self.packet(d, "first.pkt", subjects), base, *hop)
        self.assertEqual(rc, 0, err)
        return base

    def subjects(self, base):
        rc, out, err = run("list", base)
        self.assertEqual(rc, 0, err)
        return [line.split("\t")[5] for line in out.splitlines()]

    def files(self, d):
        return {n: open(os.path.join(d, n), "rb").read() for n in sorted(os.listdir(d)) if not n.endswith(".pkt")
                or n == "out.pkt"}

    def test_two_copies_into_one_base_lose_nothing(self):
        for kind in KINDS:
            for round_ in range(10):
                with self.subTest(kind=kind, round=round_):
                    d = self.folder()
                    base = self.base(d, kind, ["old 1", "old 2"])
                    a = self.packet(d, "a.pkt", ["a %d" % i for i in range(150)])
                    b = self.packet(d, "b.pkt", ["b %d" % i for i in range(150)])
                    copies = [kelvutil("copy", src, base) for src in (a, b)]
                    for p in copies:
                        out, err = p.communicate(timeout=120)
                        self.assertEqual(p.returncode, 0, err.decode())
                        self.assertIn(b"\ncopied 150 of 150 messages\n", out)
                    got = self.subjects(base)
                    want = ["old 1", "old 2"] + ["a %d" % i for i in range(150)] + ["b %d" % i for i in range(150)]
                    self.assertEqual(sorted(got), sorted(want))
                    # Each copy's messages keep their order among the others'.
                    for side in "ab":
                        self.assertEqual([s for s in got if s[0] == side], [s for s in want if s[0] == side])
                    self.assertEqual(run("check", base)[0], 0)

    def test_crashmail_tosses_while_copy_appends(self):
        if not shutil.which("crashmail"):
            self.skipTest("crashmail is not installed")
        for round_ in range(4):
            with self.subTest(round=round_):
                d = self.folder()
                for sub in ("in", "out", "tmp", "bad", "netmail", "jam"):
                    os.makedirs(os.path.join(d, sub))
                with open(os.path.join(d, "prefs"), "w") as f:
                    f.write("SYSOP \"Live\"\nLOGFILE \"{0}/log\"\nLOGLEVEL 6\nDUPEFILE \"{0}/dupes\" 200\n"
                            "DUPEMODE IGNORE\nDEFAULTZONE 2\nINBOUND \"{0}/in\"\nOUTBOUND \"{0}/out\"\n"
                            "TEMPDIR \"{0}/tmp\"\nCREATEPKTDIR \"{0}/tmp\"\nPACKETDIR \"{0}/out\"\n"
                            "STATSFILE \"{0}/stats\"\nAKA 2:5020/1\nNODE 2:5020/2 \"\" \"\"\n"
                            "NETMAIL \"NETMAIL\" 2:5020/1 MSG \"{0}/netmail\"\nAREA \"BAD\" 2:5020/1 MSG \"{0}/bad\"\n"
                            "AREA \"LIVE.AREA\" 2:5020/1 JAM \"{0}/jam/live\"\nEXPORT 2:5020/2\n".format(d))
                # The base is there before both start: crashmail empties the
                # files of a base it could not open when it makes one.
                base = "J" + os.path.join(d, "jam", "live")
                self.assertEqual(run("copy", self.packet(d, "first.pkt", ["first"]), base)[0], 0)
                toss = ["toss %d" % i for i in range(600)]
                self.packet(os.path.join(d, "in"), "00000001.pkt", toss)
                copied = ["copy %d" % i for i in range(150)]
                copy = kelvutil("copy", self.packet(d, "copy.pkt", copied), base, slow=400)
                tosser = subprocess.run(["crashmail", "SETTINGS", os.path.join(d, "prefs"), "TOSS"],
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
                out, err = copy.communicate(timeout=120)
                self.assertEqual(copy.returncode, 0, err.decode())
                self.assertEqual(tosser.returncode, 0, tosser.stdout.decode())
                self.assertNotIn(b"Timeout", tosser.stdout)
                got = self.subjects(base)
                self.assertEqual(sorted(got), sorted(["first"] + toss + copied))

    def test_a_lock_another_program_holds(self):
        # Held for a second: the copy waits, touching nothing, then goes on.
        # Held until the copy ends (past its wait, however slow the machine):
        # the copy fails with its reason and the base is byte for byte as
        # it was. The formats run side by side.
        def case(kind, held_through):
            d = self.folder()
            base = self.base(d, kind, ["old 1"])
            before = self.files(d)
            release = ff.hold_lock(os.path.join(d, KINDS[kind][1]))
            copy = kelvutil("copy", self.packet(d, "new.pkt", ["new 1", "new 2"]), base)
            if held_through:
                copy.wait(timeout=120)
            else:
                time.sleep(1)
            untouched = self.files(d) == before
            release()
            err = copy.communicate(timeout=120)[1].decode()
            results[kind, held_through] = (untouched, copy.returncode, "another program held the lock of" in err,
                                           self.files(d) == before, self.subjects(base))

        results = {}
        side_by_side(case, [(kind, held) for kind in "SJP" for held in (False, True)])
        for kind in "SJP":
            self.assertEqual(results[kind, False], (True, 0, False, False, ["old 1", "new 1", "new 2"]), kind)
            self.assertEqual(results[kind, True], (True, 1, True, True, ["old 1"]), kind)

    def test_a_copy_whose_base_cannot_be_put_on_the_disk_says_so(self):
        # The disk fails the sync once the messages are written: the copy
        # does not end as if they were safe.
        d = self.folder()
        base = self.base(d, "S", ["old 1"])
        copy = kelvutil("copy", self.packet(d, "new.pkt", ["new 1"]), base, faults={"FAIL_FOLDER_SYNC": "1"})
        err = copy.communicate(timeout=120)[1].decode()
        self.assertEqual(copy.returncode, 1)
        self.assertIn("the base %s could not be put on the disk" % base, err)

    def test_a_copy_killed_at_any_moment_leaves_a_whole_base(self):
        # Killed between two writes of an append, at 30 moments for each
        # format: the base checks clean and its earlier messages show as
        # before; the next copy then appends after them. (A JAM base killed
        # between a message's index record and the ActiveMsgs that counts it,
        # two files no order can write at once, keeps ActiveMsgs one short
        # until that next writer counts again: the one finding allowed.)
        def kills(kind, outcome):
            d = self.folder()
            base = self.base(d, kind, ["old 1", "old 2", "old 3"])
            shown = [run("show", base, str(n))[1] for n in (1, 2, 3)]
            saved = self.files(d)
            src = self.packet(d, "new.pkt", ["new %d" % i for i in range(8)])

            def copy_from_its_first_write():
                # The moment the base first grows: the kill falls after it.
                for name, data in saved.items():
                    with open(os.path.join(d, name), "wb") as f:
                        f.write(data)
                copy = kelvutil("copy", src, base, slow=3000, quiet=True)
                while self.files(d) == saved and copy.poll() is None:
                    time.sleep(0.001)
                return copy, time.monotonic()

            copy, start = copy_from_its_first_write()
            self.assertEqual(copy.wait(timeout=120), 0)
            writing = time.monotonic() - start
            for k in range(30):
                copy, start = copy_from_its_first_write()
                time.sleep(random.uniform(0, writing))
                copy.send_signal(signal.SIGKILL)
                copy.wait()
                rc, out, err = run("check", base)
                findings = out.splitlines()[:-1]
                cut_count = kind == "J" and len(findings) == 1 and "ActiveMsgs" in findings[0]
                good = rc == 0 or cut_count
                good = good and [run("show", base, str(n))[1] for n in (1, 2, 3)] == shown
                rc, out, err = run("copy", self.packet(d, "next.pkt", ["next"]), base)
                subjects = self.subjects(base)
                good = good and rc == 0 and subjects[:3] == ["old 1", "old 2", "old 3"] and subjects[-1] == "next"
                good = good and subjects[3:-1] == ["new %d" % i for i in range(len(subjects) - 4)]
                good = good and run("check", base)[0] == 0
                outcome.append((kind, k, good, findings, subjects))

        outcome = []
        side_by_side(kills, [(kind, outcome) for kind in "SJP"])
        self.assertEqual([o for o in outcome if not o[2]], [])
        self.assertEqual(len(outcome), 90)

    def test_a_pack_or_repair_killed_at_any_moment_leaves_old_or_new(self):
        # A Squish base with a wrong recipient hash in its index and a JAM
        # base with messages marked deleted in their headers only (as
        # crashmail's maintenance run marks them): both something for pack
        # and repair to write. Each is packed or repaired and killed at 15
        # moments, renames included: right after, the base is the old one or
        # the new one, or check names the marker of a pack cut off among its
        # renames; a repair then leaves the new one, which shows every live
        # message as before and checks clean, with no .$pk file left.
        def offsets_dropped(text):
            return "".join(l for l in text.splitlines(True) if not l.startswith(("SquishFrame", "JamHdrOffset",
                                                                                   "JamTxtOffset")))

        def kills(kind, outcome):
            d = self.folder()
            base = self.base(d, kind, ["msg %d" % i for i in range(12)])
            os.remove(os.path.join(d, "first.pkt"))
            if kind == "S":
                with open(os.path.join(d, "sq.sqi"), "r+b") as f:
                    f.seek(8)
                    f.write(b"\0\0\0\0")
            else:
                jdx = open(os.path.join(d, "jam.jdx"), "rb").read()
                with open(os.path.join(d, "jam.jhr"), "r+b") as f:
                    for n in range(1, 12, 3):
                        f.seek(int.from_bytes(jdx[n * 8 + 4:n * 8 + 8], "little") + 52)
                        f.write(b"\0\0\0\x80")
            numbers = [line.split("\t")[0] for line in run("list", base)[1].splitlines()]
            shown = [offsets_dropped(run("show", base, n)[1]) for n in numbers]
            old = self.files(d)

            def restart(command):
                for name in os.listdir(d):
                    os.remove(os.path.join(d, name))
                for name, data in old.items():
                    with open(os.path.join(d, name), "wb") as f:
                        f.write(data)
                return kelvutil(command, base, slow=3000, quiet=True), time.monotonic()

            new = {}
            for command in ("pack", "repair"):
                p, start = restart(command)
                self.assertEqual(p.wait(timeout=120), 0)
                new[command], took = self.files(d), time.monotonic() - start
            for k in range(15):
                command = ("pack", "repair")[k % 2]
                p, start = restart(command)
                time.sleep(random.uniform(0, took))
                p.send_signal(signal.SIGKILL)
                p.wait()
                marker = os.path.exists(os.path.join(d, KINDS[kind][0] + ".$pk"))
                base_files = {n: b for n, b in self.files(d).items() if not n.endswith(".$pk")}
                rc, out, err = run("check", base)
                if marker:
                    good = rc == 1 and ".$pk\t0\ta pack or repair was cut off" in out
                else:
                    good = base_files in (old, new[command])
                good = good and run("repair", base)[0] == 0 and run("check", base)[0] == 0
                good = good and self.files(d) in (new["pack"], new["repair"])
                numbers = [line.split("\t")[0] for line in run("list", base)[1].splitlines()]
                good = good and [offsets_dropped(run("show", base, n)[1]) for n in numbers] == shown
                outcome.append((kind, k, command, marker, good))

        outcome = []
        side_by_side(kills, [(kind, outcome) for kind in "SJ"])
        self.assertEqual([o for o in outcome if not o[-1]], [])
        self.assertEqual(len(outcome), 30)
        print("kills that left the marker:", sum(o[3] for o in outcome), file=sys.stderr)


if __name__ == "__main__":
    KELVUTIL, WRITE_FAULTS = sys.argv[1], os.path.abspath(sys.argv[2])
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)
