"""End-to-end runs of the built kelvane in temporary node folders.

Each test lays out a node (kelv.ctl, a FastEcho configuration, a netmail
folder, message bases), runs the program with its plain-text console (the
output is a pipe), and compares the whole output, the exit code and the
files left behind against what tests/fidofiles.py computes on its own.

Usage: e2e_test.py KELVANE [--wine]   (more unittest arguments may follow)
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fidofiles as ff  # noqa: E402

KELVANE = None
WINE = False
BULLET = "\u25a0"


def run_kelvane(cwd, timeout=120, on_line=None):
    """Runs kelvane in cwd; on_line, when given, sees each output row (as
    bytes) the moment the program finishes it."""
    cmd = (["wine", KELVANE] if WINE else [KELVANE])
    env = dict(os.environ, WINEDEBUG="-all")
    p = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         env=env, stdin=subprocess.DEVNULL)
    killer = threading.Timer(timeout, p.kill)
    killer.start()
    try:
        raw = b""
        for row in p.stdout:
            raw += row
            if on_line:
                on_line(row)
        rc = p.wait()
    finally:
        killer.cancel()
        p.stdout.close()
    # Linux output is UTF-8; the Windows build writes the console's code
    # page 866 bytes as they are.
    return rc, raw.decode("cp866" if WINE else "utf-8")


def exe_dir():
    d = os.path.dirname(os.path.abspath(KELVANE))
    if WINE:
        return "Z:" + d.replace("/", "\\") + "\\"
    return d + "/"


def writeb(path, data):
    with open(path, "wb") as f:
        f.write(data)


def readb(path):
    with open(path, "rb") as f:
        return f.read()


def status(text):
    return " " + BULLET + " " + text


PROGRESS = re.compile(r"^   searhing for next message: (\d+)$")


class Node:
    """A node folder: kelv.ctl, setup.cfg, netmail\\ and bases\\."""

    def __init__(self, testcase):
        self.dir = tempfile.mkdtemp(prefix="kelv-e2e-")
        testcase.addCleanup(shutil.rmtree, self.dir, True)
        self.config = ff.Config(netmail=b"netmail\\", semaphore=b"sem\\")
        self.netmail = os.path.join(self.dir, "netmail")
        os.makedirs(self.netmail)
        os.makedirs(os.path.join(self.dir, "sem"))
        os.makedirs(os.path.join(self.dir, "bases"))
        self.ctl_lines = ["FastEchoConfig setup.cfg"]

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def write(self, ctl_extra=()):
        with open(self.path("kelv.ctl"), "w", newline="\r\n") as f:
            f.write("\n".join(self.ctl_lines + list(ctl_extra)) + "\n")
        self.original = self.config.to_bytes()
        with open(self.path("setup.cfg"), "wb") as f:
            f.write(self.original)

    def msg(self, n, frm="Sysop", to="Robot", subject="remove", orig=(2, 463, 100, 0),
            dest=(2, 463, 1, 0), body=(), **kw):
        ff.write_msg(os.path.join(self.netmail, "%d.msg" % n), frm, to, subject, orig, dest, body, **kw)

    def squish(self, name):
        for ext in ("sqd", "sqi", "sql"):
            writeb(self.path("bases", name + "." + ext), b"squish " + ext.encode())
        return "bases\\" + name

    def jam(self, name):
        for ext in ("jhr", "jdt", "jdx", "jlr"):
            writeb(self.path("bases", name + "." + ext), b"jam " + ext.encode())
        return "bases\\" + name

    def msgdir(self, name, count=2):
        os.makedirs(self.path("bases", name))
        for i in range(1, count + 1):
            writeb(self.path("bases", name, "%d.msg" % i), b"x" * 200)
        writeb(self.path("bases", name, "lastread.kvx"), b"\0\0")
        return "bases\\" + name + "\\"

    def cfg(self):
        with open(self.path("setup.cfg"), "rb") as f:
            return f.read()

    def snapshot(self):
        """Every file under the node with its bytes."""
        files = {}
        for root, _, names in os.walk(self.dir):
            for n in names:
                p = os.path.join(root, n)
                files[os.path.relpath(p, self.dir)] = readb(p)
        return files


class E2E(unittest.TestCase):
    maxDiff = None

    def check_run(self, node, expect_lines, code=0, progress=None, on_line=None):
        """Runs kelvane in node and compares the output line by line. The
        progress line ends on the number after the last one walked (Count + 1,
        or 2 for an empty folder); progress, when given, is that number."""
        rc, out = run_kelvane(node.dir, on_line=on_line)
        lines = out.split("\n")
        self.assertEqual(lines[-1], "", out)
        lines = lines[:-1]
        got = []
        for line in lines:
            m = PROGRESS.match(line)
            if m:
                if progress is not None:
                    self.assertEqual(int(m.group(1)), progress, out)
                line = "   searhing for next message: #"
            got.append(line)
        self.assertEqual(got, expect_lines, out)
        self.assertEqual(rc, code, out)
        return out

    def head(self):
        return ["", status("kelvane v0.1"), status("loading config file... done!"),
                status("loading [setup.cfg]... success!"), status("scanning netmail base:")]

    def tail_stored(self):
        return ["   searhing for next message: #", status("storing [setup.cfg]... done!"),
                status("memory leak is 0 byte(s).")]

    def tail_unchanged(self):
        return ["   searhing for next message: #",
                status("no need to store [setup.cfg] because it have no changes."),
                status("memory leak is 0 byte(s).")]

    # --- the driver -------------------------------------------------------

    def test_no_control_file_anywhere(self):
        d = tempfile.mkdtemp(prefix="kelv-e2e-")
        self.addCleanup(shutil.rmtree, d, True)
        if os.path.exists(exe_dir().replace("Z:", "").replace("\\", "/") + "kelv.ctl"):
            self.skipTest("a kelv.ctl lies beside the program")
        os.makedirs(os.path.join(d, "kelv.ctl"))  # a directory does not count
        rc, out = run_kelvane(d)
        self.assertEqual(out.split("\n"), [
            "", status("kelvane v0.1"),
            status("configuration file [" + exe_dir() + "kelv.ctl] is NOT found... aborted!"),
            status("memory leak is 0 byte(s)."), ""])
        self.assertEqual(rc, 255)

    def test_missing_and_truncated_configuration(self):
        node = Node(self)
        node.config.add_area("ECHO.ONE")
        node.write()
        full = node.original
        for data in (None, full[:4644 + 10], full[:-1]):
            if data is None:
                os.remove(node.path("setup.cfg"))
            else:
                writeb(node.path("setup.cfg"), data)
            self.check_run(node, ["", status("kelvane v0.1"), status("loading config file... done!"),
                                  status("loading [setup.cfg]... cannot load [setup.cfg]... aborted!"),
                                  status("memory leak is 0 byte(s).")], code=254)
            if data is not None:
                self.assertEqual(node.cfg(), data)

    def test_wrong_control_lines_are_reported_and_the_run_goes_on(self):
        node = Node(self)
        node.ctl_lines += ["FromName=John", "; a comment", "Frobnicate 1", "Subject ; none"]
        node.write()
        started = time.monotonic()
        self.check_run(node, ["", status("kelvane v0.1"), status("loading config file..."),
                              "   wrong line [#2] in [kelv.ctl]", "   wrong line [#4] in [kelv.ctl]",
                              "   pause 3 second to check hands... done!",
                              status("loading [setup.cfg]... success!"), status("scanning netmail base:")]
                       + self.tail_unchanged())
        self.assertGreaterEqual(time.monotonic() - started, 2.9)

    # --- the scan ---------------------------------------------------------

    def test_empty_netmail_folder(self):
        node = Node(self)
        node.config.add_area("ECHO.ONE")
        node.write(["MatchStr ^-(.*)$ | \\0"])
        self.check_run(node, self.head() + self.tail_unchanged(), progress=2)
        self.assertEqual(node.cfg(), node.original)

    def test_sparse_netmail_numbers_up_to_the_highest(self):
        # A stray message numbered 2147483647 (the highest a *.MSG name can
        # carry) must neither hang the walk on the numbers below it nor
        # overflow the count; both requests are read.
        node = Node(self)
        node.config.add_area("ECHO.ONE")
        node.config.add_area("ECHO.TWO")
        node.ctl_lines += ["MatchStr ^-(.*)$ | \\0"]
        node.msg(3, body=["-echo.one"])
        node.msg(2147483647, body=["-echo.two"])
        node.write()
        self.check_run(node, self.head() + ["   valid msg #3: Sysop (2:463/100) -> Robot (2:463/1)",
                                            "   . area [echo.one] removed;",
                                            "   valid msg #2147483647: Sysop (2:463/100) -> Robot (2:463/1)",
                                            "   . area [echo.two] removed;"]
                       + self.tail_stored(), progress=2147483648)
        self.assertEqual(node.cfg(), ff.remove_areas(node.original, [b"echo.one", b"echo.two"]))

    def test_conditions_pick_the_requests(self):
        node = Node(self)
        for tag in ("ECHO.A", "ECHO.B", "ECHO.C", "ECHO.D", "ECHO.E", "ECHO.F"):
            node.config.add_area(tag)
        node.config.add_node([0, 1, 2, 3, 4, 5])
        node.ctl_lines += ["FromName sysop", "FromAddr 2:463/100.0", "ToName ROBOT",
                           "ToAddr 2:463/1", "Subject Remove Areas", "MatchStr ^-(.*)$ | \\0"]
        # 1: a request, names and subject in other cases.
        node.msg(1, frm="SYSOP", to="robot", subject="REMOVE areas", body=["-echo.a"])
        # 2: the sender has a point: not admitted.
        node.msg(2, orig=(2, 463, 100, 5), subject="remove areas", body=["-echo.b"])
        # 3: the subject only contains the configured one.
        node.msg(3, subject="please remove areas", body=["-echo.c"])
        # 4: another recipient name.
        node.msg(4, to="Robots", subject="remove areas", body=["-echo.d"])
        # 5: another recipient address.
        node.msg(5, dest=(2, 463, 2, 0), subject="remove areas", body=["-echo.e"])
        # 7: a request again, after a gap in the numbering.
        node.msg(7, subject="Remove Areas", body=["-echo.f"])
        node.write()
        self.check_run(node, self.head() + [
            "   valid msg #1: SYSOP (2:463/100) -> robot (2:463/1)",
            "   . area [echo.a] removed;",
            "   valid msg #7: Sysop (2:463/100) -> Robot (2:463/1)",
            "   . area [echo.f] removed;"] + self.tail_stored(), progress=8)
        self.assertEqual(node.cfg(), ff.remove_areas(node.original, [b"echo.a", b"echo.f"]))

    def test_no_conditions_every_message_is_a_request(self):
        node = Node(self)
        node.config.add_area("ECHO.ONE")
        node.ctl_lines += ["MatchStr ^AREA (.*)$"]  # empty template: never names an area
        node.msg(1, body=["AREA ECHO.ONE"])
        node.msg(2, frm="Other", orig=(1, 2, 3, 4), dest=(3, 4, 5, 0), body=[])
        node.write()
        self.check_run(node, self.head() + [
            "   valid msg #1: Sysop (2:463/100) -> Robot (2:463/1)",
            "   valid msg #2: Other (1:2/3.4) -> Robot (3:4/5)"] + self.tail_unchanged())
        self.assertEqual(node.cfg(), node.original)

    def test_stop_strings_patterns_and_repeats(self):
        node = Node(self)
        for tag in ("ECHO.ONE", "ECHO.TWO", "ECHO.THREE", "ECHO.LATE"):
            node.config.add_area(tag)
        node.config.add_node([0, 1, 2, 3])
        node.config.add_node([1, 3])
        node.ctl_lines += ["MatchStr ^-(.*)$ | \\0", "MatchStr \"^[-+]([a-z.]+)\" | \"\\0\"",
                           "MatchStr ^drop (.*)$|\\0", "StopScanAfter end of list"]
        node.msg(3, body=["Hello robot,", "", "-echo.one", "drop UNKNOWN.AREA", "DROP ECHO.TWO",
                          "-- End Of List -- -echo.three", "-echo.late"])
        node.write()
        self.check_run(node, self.head() + [
            "   valid msg #3: Sysop (2:463/100) -> Robot (2:463/1)",
            # both patterns name the same area: removed, then not found
            "   . area [echo.one] removed;",
            "   . area [echo.one] not found;",
            "   . area [UNKNOWN.AREA] not found;",
            "   . area [ECHO.TWO] removed;"] + self.tail_stored(), progress=4)
        self.assertEqual(node.cfg(), ff.remove_areas(node.original, [b"echo.one", b"ECHO.TWO"]))
        self.assertTrue(os.path.exists(node.path("netmail", "3.msg")))

    def test_bases_are_deleted_by_type(self):
        node = Node(self)
        keep_sq = node.squish("keep")
        areas = [("MSG.AREA", 1, node.msgdir("msgarea")), ("SQ.AREA", 2, node.squish("sqarea")),
                 ("JAM.AREA", 3, node.jam("jamarea")), ("PT.AREA", 0, node.squish("pass0")),
                 ("LOCAL.AREA", 7, node.jam("local7")),
                 ("BARE.AREA", 5, "bases\\bare.sqd"), ("KEEP.AREA", 2, keep_sq),
                 ("NOPATH.AREA", 2, "")]
        writeb(node.path("bases", "bare.sqd"), b"sqd")
        writeb(node.path("bases", "bare.sqi"), b"sqi")
        for tag, t, p in areas:
            node.config.add_area(tag, t, p)
        node.config.add_node(range(8))
        node.ctl_lines += ["MatchStr ^-(.*)$ | \\0"]
        names = ["MSG.AREA", "SQ.AREA", "JAM.AREA", "PT.AREA", "LOCAL.AREA", "BARE.AREA", "NOPATH.AREA"]
        node.msg(1, body=["-" + n for n in names])
        node.write()
        self.check_run(node, self.head() + ["   valid msg #1: Sysop (2:463/100) -> Robot (2:463/1)"]
                       + ["   . area [%s] removed;" % n for n in names] + self.tail_stored())
        self.assertEqual(node.cfg(), ff.remove_areas(node.original, [n.encode() for n in names]))
        left = set(os.listdir(node.path("bases")))
        self.assertEqual(os.listdir(node.path("bases", "msgarea")), ["lastread.kvx"])
        self.assertEqual(left, {"msgarea", "keep.sqd", "keep.sqi", "keep.sql", "pass0.sqd", "pass0.sqi",
                                "pass0.sql", "local7.jhr", "local7.jdt", "local7.jdx", "local7.jlr"})

    def test_remove_base_no_keeps_every_file(self):
        node = Node(self)
        node.config.add_area("SQ.AREA", 2, node.squish("sqarea"))
        node.config.add_area("MSG.AREA", 1, node.msgdir("msgarea"))
        node.ctl_lines += ["MatchStr ^-(.*)$ | \\0", "RemoveBase No"]
        node.msg(1, body=["-sq.area", "-msg.area"])
        node.write()
        before = node.snapshot()
        self.check_run(node, self.head() + ["   valid msg #1: Sysop (2:463/100) -> Robot (2:463/1)",
                                            "   . area [sq.area] removed;", "   . area [msg.area] removed;"]
                       + self.tail_stored())
        after = node.snapshot()
        self.assertEqual(after.pop("setup.cfg"), ff.remove_areas(node.original, [b"sq.area", b"msg.area"]))
        before.pop("setup.cfg")
        self.assertEqual(after, before)

    # --- the busy flag ----------------------------------------------------

    def busy_node(self, policy):
        node = Node(self)
        node.config.add_area("ECHO.ONE", 2, node.squish("one"))
        node.config.add_area("ECHO.TWO")
        node.ctl_lines += ["MatchStr ^-(.*)$ | \\0", "IfFEBusy " + policy]
        node.msg(1, body=["-echo.one"])
        node.write()
        writeb(node.path("sem", "febusy.0"), b"")
        return node

    def test_busy_quit(self):
        node = self.busy_node("quit")
        self.check_run(node, self.head() + ["   valid msg #1: Sysop (2:463/100) -> Robot (2:463/1)",
                                            "   . area [echo.one] removed;", "   searhing for next message: #",
                                            status("storing [setup.cfg]..."),
                                            "   flag [sem\\febusy.0] exist, we must quit... aborted!",
                                            status("memory leak is 0 byte(s).")], code=253)
        self.assertEqual(node.cfg(), node.original)
        self.assertFalse(os.path.exists(node.path("bases", "one.sqd")))  # deleted before the flag was seen

    def test_busy_poher(self):
        node = self.busy_node("poher")
        self.check_run(node, self.head() + ["   valid msg #1: Sysop (2:463/100) -> Robot (2:463/1)",
                                            "   . area [echo.one] removed;", "   searhing for next message: #",
                                            status("storing [setup.cfg]..."),
                                            "   flag [sem\\febusy.0] exist, POHER! done!",
                                            status("memory leak is 0 byte(s).")])
        self.assertEqual(node.cfg(), ff.remove_areas(node.original, [b"echo.one"]))

    def test_busy_wait_until_the_flag_goes(self):
        node = self.busy_node("wait")
        flag = node.path("sem", "febusy.0")
        timers = []

        def on_line(row):
            # The flag is looked at right after the storing line is written;
            # it goes two seconds later, so that even a slow, busy machine
            # has seen it and is waiting by then.
            if b"storing [" in row and not timers:
                timers.append(threading.Timer(2.0, os.remove, [flag]))
                timers[0].start()

        self.addCleanup(lambda: [t.cancel() for t in timers])
        self.check_run(node, on_line=on_line, expect_lines=self.head() + ["   valid msg #1: Sysop (2:463/100) -> Robot (2:463/1)",
                                            "   . area [echo.one] removed;", "   searhing for next message: #",
                                            status("storing [setup.cfg]..."),
                                            "   flag [sem\\febusy.0] exist, we must wait done!",
                                            status("memory leak is 0 byte(s).")])
        self.assertEqual(node.cfg(), ff.remove_areas(node.original, [b"echo.one"]))

    def test_flag_is_not_looked_at_when_nothing_changes(self):
        node = self.busy_node("quit")
        with open(node.path("netmail", "1.msg"), "r+b") as f:
            f.truncate(190)  # the request now names nothing
        self.check_run(node, self.head() + ["   valid msg #1: Sysop (2:463/100) -> Robot (2:463/1)"]
                       + self.tail_unchanged())


if __name__ == "__main__":
    KELVANE = os.path.abspath(sys.argv[1])
    args = sys.argv[2:]
    if args and args[0] == "--wine":
        WINE = True
        args = args[1:]
    unittest.main(argv=[sys.argv[0]] + args, verbosity=2)
