"""End-to-end runs of the built kelvane in temporary node folders.

Each test lays out a node (kelv.ctl, a FastEcho configuration, a netmail
folder, message bases), runs the program with its plain-text console (the
output is a pipe), and compares the whole output, the exit code and the
files left behind against what tests/fidofiles.py computes on its own.

Runs of kelvane that end normally (or stop for the busy flag) are preceded
by kelvutil plan in the same node: plan must change no byte of any file,
and what it foresees (the requests, each area removed or not found, the
bases kept and the files deleted, whether anything is stored) must be what
kelvane then does.

Usage: e2e_test.py KELVANE [--wine] [--kelvutil KELVUTIL] [--nodegen NODEGEN]
       (more unittest arguments may follow)
"""
import os
import re
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

KELVANE = None
KELVUTIL = None
NODEGEN = None
FAULTS = None  # the LD_PRELOAD library of disk faults (tests/write_faults.cc)
WINE = False
BULLET = "\u25a0"


def start_kelvane(cwd, args=(), env=None):
    cmd = (["wine", KELVANE] if WINE else [KELVANE]) + list(args)
    env = dict(os.environ, WINEDEBUG="-all", **(env or {}))
    return subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            env=env, stdin=subprocess.DEVNULL)


def decode(raw):
    """The program's output as text with rows ended by LF. Rows written to a
    pipe end as text files do on the system: CR LF on Windows (and no bare
    LF), LF alone on Linux (and no CR at all)."""
    if WINE:
        if raw.count(b"\n") != raw.count(b"\r\n"):
            raise AssertionError("a row does not end with CR LF: %r" % raw)
        # The Windows build writes the console's code page 866 bytes as they are.
        return raw.replace(b"\r\n", b"\n").decode("cp866")
    if b"\r" in raw:
        raise AssertionError("a CR in plain output: %r" % raw)
    return raw.decode("utf-8")


def run_kelvutil(cwd, args, stdout=subprocess.PIPE, text="cp866" if WINE else "utf-8"):
    """Runs kelvutil in cwd: (exit code, standard output, standard error).
    Its text is written as kelvane's is, UTF-8 on Linux and the files' code
    page 866 bytes on Windows, rows ended as text files end them on the
    system; text=None keeps the bytes. stdout may be a file to write to."""
    cmd = (["wine", KELVUTIL] if WINE else [KELVUTIL]) + list(args)
    env = dict(os.environ, WINEDEBUG="-all")
    p = subprocess.run(cmd, cwd=cwd, stdout=stdout, stderr=subprocess.PIPE, env=env,
                       stdin=subprocess.DEVNULL, timeout=120)
    out = (p.stdout or b"").replace(b"\r\n", b"\n") if WINE else p.stdout or b""
    if text is None:
        return p.returncode, out, p.stderr
    return p.returncode, out.decode(text), p.stderr.decode(text, "replace")


def tree(d):
    """Every file under d with its bytes (a link: where it leads), by path
    relative to d."""
    files = {}
    for root, _, names in os.walk(d):
        for n in names:
            path = os.path.join(root, n)
            rel = os.path.relpath(path, d).replace(os.sep, "/")
            files[rel] = ("link", os.readlink(path)) if os.path.islink(path) else readb(path)
    return files


def foreseen(plan):
    """What kelvane will print of its decisions and do, as plan's records
    tell it: (decision lines, base lines, files deleted, stored, requests
    marked). A base that an earlier area's base took along gets no line."""
    decisions, bases, files, stored, marked = [], [], set(), False, set()
    recs = [rec.split("\t") for rec in plan.split("\n")]
    for i, f in enumerate(recs):
        if f[0] == "message" and f[2] == "request":
            decisions.append("   valid msg #%s: %s" % (f[1], f[3]))
        elif f[0] == "area":
            decisions.append("   . area [%s] %s;" % (f[2], "removed" if f[3] == "removed" else "not found"))
        elif f[0] == "base" and f[3] == "kept":
            bases.append(status("base [%s] of area [%s] %s, kept" % (f[2], f[1], f[4])))
        elif f[0] == "base" and f[3] == "deleted":
            own = {r[2].replace("\\", "/") for r in recs[i + 1:i + 1 + int(f[4].split()[0])]}
            if not own or not own <= files:
                bases.append(status("base [%s] of area [%s] deleted (%s)" % (f[2], f[1], f[4])))
            files |= own
        elif f[0] == "store":
            stored = not f[2].startswith("nothing to store")
        elif f[0] == "mark":
            marked.add(f[2].replace("\\", "/"))
    return decisions, bases, files, stored, marked


def done(out):
    """The same of what kelvane printed."""
    lines = out.split("\n")
    decisions = [l for l in lines if l.startswith("   valid msg #") or l.startswith("   . area [")]
    bases = [l for l in lines if l.startswith(status("base ["))]
    return decisions, bases


def received(data):
    """A *.MSG file with the Received attribute set, all else as it was."""
    return data[:186] + bytes([data[186] | 0x04]) + data[187:]


def run_kelvane(cwd, args=(), timeout=120, watch=None, env=None):
    """Runs kelvane in cwd and returns (exit code, output). watch, when
    given, is called with the raw output so far and the process each time
    more output arrives, a row not yet ended included, as soon as the
    program has written it. env: more of the environment."""
    p = start_kelvane(cwd, args, env)
    killer = threading.Timer(timeout, p.kill)
    killer.start()
    raw = b""
    try:
        while True:
            chunk = os.read(p.stdout.fileno(), 65536)
            if not chunk:
                break
            raw += chunk
            if watch:
                watch(raw, p)
        rc = p.wait()
    finally:
        killer.cancel()
        p.stdout.close()
    return rc, decode(raw)


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


def emulate_terminal(text, width, height):
    """The rows an xterm-like terminal of width x height shows after text:
    SGR sequences, ESC 7 / ESC 8, CR, LF, BS, BEL, printable characters
    with the deferred wrap at the last column; the cursor starts on the
    bottom row, below the shell's prompt."""
    rows = [[" "] * width for _ in range(height)]
    x, y, pending, saved = 0, height - 1, False, (0, height - 1, False)

    def line_feed():
        nonlocal y
        if y < height - 1:
            y += 1
        else:
            rows.pop(0)
            rows.append([" "] * width)

    i = 0
    while i < len(text):
        c = text[i]
        i += 1
        if c == "\x1b":
            kind = text[i]
            i += 1
            if kind == "[":
                while not text[i].isalpha():
                    i += 1
                i += 1
            elif kind == "7":
                saved = (x, y, pending)
            elif kind == "8":
                x, y, pending = saved
        elif c == "\r":
            x, pending = 0, False
        elif c == "\n":
            pending = False
            line_feed()
        elif c == "\b":
            x, pending = max(0, x - 1), False
        elif c != "\x07":
            if pending:
                x, pending = 0, False
                line_feed()
            rows[y][x] = c
            if x == width - 1:
                pending = True
            else:
                x += 1
    return ["".join(r).rstrip() for r in rows]


class Node:
    """A node folder: kelv.ctl, setup.cfg, netmail\\ and bases\\."""

    def __init__(self, testcase, cfg_name="setup.cfg", netmail="netmail"):
        self.dir = tempfile.mkdtemp(prefix="kelv-e2e-")
        testcase.addCleanup(shutil.rmtree, self.dir, True)
        self.cfg_name = cfg_name
        self.config = ff.Config(netmail=netmail.encode() + b"\\", semaphore=b"sem\\")
        self.netmail = os.path.join(self.dir, netmail)
        os.makedirs(self.netmail)
        os.makedirs(os.path.join(self.dir, "sem"))
        os.makedirs(os.path.join(self.dir, "bases"))
        self.ctl_lines = ["FastEchoConfig " + cfg_name]

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def write(self, ctl_extra=()):
        with open(self.path("kelv.ctl"), "wb") as f:
            f.write(b"".join((l if isinstance(l, bytes) else l.encode("cp866")) + b"\r\n"
                             for l in self.ctl_lines + list(ctl_extra)))
        self.original = self.config.to_bytes()
        with open(self.path(self.cfg_name), "wb") as f:
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

    def request(self, *areas, body=None, **kw):
        """Adds the areas, given as (tag, base type, path), a node linked to
        them all, the pattern "-TAG" and request #1 naming each of them."""
        for tag, t, p in areas:
            self.config.add_area(tag, t, p)
        self.config.add_node(range(len(areas)))
        self.ctl_lines.append("MatchStr ^-(.*)$ | \\0")
        self.msg(1, body=body if body is not None else ["-" + a[0] for a in areas], **kw)

    def cfg(self):
        return readb(self.path(self.cfg_name))

    def removed(self, *tags):
        """The configuration as it must be after the areas are removed."""
        return ff.remove_areas(self.original, [t.encode("cp866") for t in tags])

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

    def check_run(self, node, expect_lines, code=0, progress=None, watch=None, args=(), plan=True, env=None):
        """Runs kelvane in node and compares the output line by line. The
        progress line ends on the number after the last one walked (Count + 1,
        or 2 for an empty folder); progress, when given, is that number.
        Before a run that ends normally or for the busy flag, kelvutil plan
        runs (unless plan is False) and must foresee what kelvane does."""
        planned = self.last_plan = plan and not args and code in (0, 253) and self.plan(node.dir)
        before = tree(node.dir)
        rc, out = run_kelvane(node.dir, args=args, watch=watch, env=env)
        self.check_output(out, expect_lines, progress)
        self.assertEqual(rc, code, out)
        if planned:
            self.check_foreseen(planned, out, before, tree(node.dir), rc)
        return out

    def plan(self, d):
        """kelvutil plan in d: its output, after checking that it changed no
        byte of any file there; None when there is no kelvutil to run."""
        if not KELVUTIL:
            return None
        before = tree(d)
        rc, plan, err = run_kelvutil(d, ["plan"])
        # Wrong lines in the control file make plan end with 1, after all.
        self.assertEqual(rc, 1 if "\nwrong-line\t" in plan else 0, err)
        self.assertEqual(tree(d), before, "plan changed a file")
        return plan

    def check_foreseen(self, plan, out, before, after, rc):
        decisions, bases, files, stored, marked = foreseen(plan)
        self.assertEqual(done(out)[0], decisions, plan + out)
        if rc != 0:  # stopped for the busy flag: nothing stored, deleted or marked
            self.assertIn("there now: kelvane would quit", plan)
            self.assertNotIn("\tdeleted\t", plan)
            self.assertNotIn("\nmark\t", plan)
            self.assertEqual(after, before)
            return
        self.assertEqual(done(out)[1], bases, plan + out)
        # What an earlier store left under the temporary name goes too.
        gone = {f for f in set(before) - set(after) if not f.endswith(".$$$")}
        self.assertEqual(gone, files, plan + out)
        self.assertEqual(set(after) - set(before), set(), "a run made files")
        self.assertEqual(stored, any(l.startswith(status("storing [")) for l in out.split("\n")), plan + out)
        # The requests marked are the files that changed besides the
        # configuration, and of them only the Received bit.
        changed = {f for f in set(before) & set(after) if before[f] != after[f]}
        self.assertEqual({f for f in changed if f.lower().endswith(".msg")}, marked, plan + out)
        for f in marked:
            self.assertEqual(after[f], received(before[f]), f)

    def check_output(self, out, expect_lines, progress=None):
        lines = out.split("\n")
        self.assertEqual(lines[-1], "", out)
        got = []
        for line in lines[:-1]:
            m = PROGRESS.match(line)
            if m:
                if progress is not None:
                    self.assertEqual(int(m.group(1)), progress, out)
                line = "   searhing for next message: #"
            got.append(line)
        self.assertEqual(got, expect_lines, out)

    ANYONE = status("no FromName or FromAddr: requests from anyone are accepted")

    def head(self, cfg="setup.cfg", anyone=True):
        """The lines up to the scan; anyone: the control file sets no
        sender condition."""
        return (["", status("kelvane v0.1"), status("loading config file... done!"),
                 status("loading [%s]... success!" % cfg)] + [self.ANYONE] * anyone
                + [status("scanning netmail base:")])

    def tail_stored(self, cfg="setup.cfg", bases=()):
        return (["   searhing for next message: #", status("storing [%s]... done!" % cfg)]
                + [status(b) for b in bases] + [status("memory leak is 0 byte(s).")])

    def deleted(self, path, tag, files):
        return "base [%s] of area [%s] deleted (%d file%s)" % (path, tag, files, "" if files == 1 else "s")

    def nothing_removed(self, cfg="setup.cfg"):
        return status("no area was removed from [%s] and no base deleted" % cfg)

    def tail_unchanged(self, cfg="setup.cfg"):
        return ["   searhing for next message: #",
                status("no need to store [%s] because it have no changes." % cfg),
                status("memory leak is 0 byte(s).")]

    def wrong_lines(self, *reports, cfg="setup.cfg", warnings=None):
        """The lines up to the scan of a run whose kelv.ctl has wrong lines:
        reports are (line number, reason); warnings, the status lines before
        the scan (by default that anyone's requests are accepted)."""
        return (["", status("kelvane v0.1"), status("loading config file...")]
                + ["   wrong line [#%d] in [kelv.ctl]: %s" % r for r in reports]
                + ["   pause 3 second to check hands... done!", status("loading [%s]... success!" % cfg)]
                + (warnings if warnings is not None else [self.ANYONE]) + [status("scanning netmail base:")])

    VALID1 = "   valid msg #1: Sysop (2:463/100) -> Robot (2:463/1)"

    def removed(self, *tags):
        return ["   . area [%s] removed;" % t for t in tags]

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
        # The row of the pause reaches a log when the pause begins, not when
        # it is over.
        node = Node(self)
        node.ctl_lines += ["FromName=John", "; a comment", "Frobnicate 1", "Subject ; none"]
        node.write()
        seen = {}

        def watch(raw, _):
            for text in (b"check hands...", b"hands... done!"):
                if text in raw and text not in seen:
                    seen[text] = time.monotonic()

        self.check_run(node, self.wrong_lines((2, "unknown keyword [FromName=John]"),
                                              (4, "unknown keyword [Frobnicate]")) + self.tail_unchanged(), watch=watch)
        self.assertGreaterEqual(seen[b"hands... done!"] - seen[b"check hands..."], 2.5)

    def test_arguments_print_the_usage_and_change_nothing(self):
        node = Node(self)
        node.request(("SQ.AREA", 2, node.squish("sq")))
        node.write()
        before = node.snapshot()
        usage = ["", status("kelvane v0.1"), status("kelvane takes no arguments; nothing was read or changed"),
                 "   Run without any, kelvane reads the requests that came in as netmail and",
                 "   removes the echo areas they name from FastEcho's configuration, with",
                 "   their message bases when RemoveBase is yes.",
                 "   Its settings come from kelv.ctl in the current directory or, when there",
                 "   is none there, from the one beside the program:",
                 "   " + exe_dir() + "kelv.ctl",
                 "   To see what kelvane reads and what it would do, use kelvutil (--help).",
                 status("memory leak is 0 byte(s).")]
        for args in (["/?"], ["--help"], ["setup.cfg", "now"]):
            with self.subTest(args=args):
                self.check_run(node, usage, code=251, args=args)
                self.assertEqual(node.snapshot(), before)

    def test_closed_pipe_the_run_goes_on(self):
        # As with "kelvane | head -3": the reader is gone during the pause
        # after the wrong lines, and the run still stores and deletes.
        node = Node(self)
        node.request(("SQ.AREA", 2, node.squish("sq")), ("ECHO.TWO", 0, ""), body=["-sq.area"])
        node.write(["Frobnicate"])
        p = start_kelvane(node.dir)
        try:
            for _ in range(3):
                p.stdout.readline()
        finally:
            p.stdout.close()
        self.assertEqual(p.wait(timeout=120), 0)
        self.assertEqual(node.cfg(), node.removed("sq.area"))
        self.assertEqual(os.listdir(node.path("bases")), [])

    def test_nul_in_the_configuration_name(self):
        # The name is cut at its NUL: the file used is the file shown, and
        # the store goes through a temporary name of its own.
        node = Node(self)
        node.request(("SQ.AREA", 2, node.squish("sq")))
        node.ctl_lines[0] = b"FastEchoConfig setup.cfg\0.$$$"
        node.write()
        self.check_run(node, self.head() + [self.VALID1] + self.removed("SQ.AREA")
                       + self.tail_stored(bases=[self.deleted("bases\\sq", "SQ.AREA", 3)]))
        self.assertEqual(node.cfg(), node.removed("SQ.AREA"))
        self.assertEqual(sorted(os.listdir(node.dir)), ["bases", "kelv.ctl", "netmail", "sem", "setup.cfg"])

    def test_failed_store_deletes_nothing(self):
        # The temporary name is taken by a directory: the store fails, the
        # configuration, every base and the request stay as they were, and
        # a log read for what was removed is told so.
        node = Node(self)
        node.request(("SQ.AREA", 2, node.squish("sq")), ("MSG.AREA", 1, node.msgdir("msgarea")))
        node.write(["MarkRequests yes"])
        os.makedirs(node.path("setup.cfg.$$$"))
        before = node.snapshot()
        self.check_run(node, self.head() + [self.VALID1] + self.removed("SQ.AREA", "MSG.AREA") + [
            "   searhing for next message: #", status("storing [setup.cfg]... failed!... aborted!"),
            self.nothing_removed(), status("memory leak is 0 byte(s).")], code=252)
        self.assertEqual(node.snapshot(), before)

    def test_configuration_in_place_whose_folder_sync_failed(self):
        # The disk fails the sync of the folder once the new configuration
        # has taken the old one's place: it is in place, so the run says so
        # and deletes the bases, as after a store.
        if not FAULTS:
            self.skipTest("the disk faults are made with LD_PRELOAD (Linux)")
        node = Node(self)
        node.request(("SQ.AREA", 2, node.squish("sq")))
        node.write()
        self.check_run(node, self.head() + [self.VALID1] + self.removed("SQ.AREA") + [
            "   searhing for next message: #",
            status("storing [setup.cfg]... stored, but the sync of its folder failed!"),
            status(self.deleted("bases\\sq", "SQ.AREA", 3)), status("memory leak is 0 byte(s).")],
            env={"LD_PRELOAD": FAULTS, "FAIL_FOLDER_SYNC": "1"}, plan=False)
        self.assertEqual(node.cfg(), node.removed("SQ.AREA"))
        self.assertEqual(os.listdir(node.path("bases")), [])

    def test_fifos_are_no_files(self):
        # Nothing that is not a regular file is opened, waited on or
        # deleted: a FIFO among the netmail is an unreadable message, one in
        # a base stays, and one named kelv.ctl or as the configuration is
        # not a file to read.
        if WINE:
            self.skipTest("FIFOs are a Linux matter")
        node = Node(self)
        node.request(("SQ.AREA", 2, node.squish("sq")), ("MSG.AREA", 1, node.msgdir("msgarea")))
        os.mkfifo(node.path("netmail", "7.msg"))
        os.mkfifo(node.path("bases", "msgarea", "3.msg"))
        os.remove(node.path("bases", "sq.sql"))
        os.mkfifo(node.path("bases", "sq.sql"))
        node.write()
        rc, out = run_kelvane(node.dir, timeout=30)
        self.check_output(out, self.head() + [self.VALID1] + self.removed("SQ.AREA", "MSG.AREA")
                          + self.tail_stored(bases=[self.deleted("bases\\sq", "SQ.AREA", 2),
                                                    self.deleted("bases\\msgarea\\", "MSG.AREA", 2)]),
                          progress=2)  # 7.msg is no message: the highest is 1
        self.assertEqual(rc, 0, out)
        self.assertEqual(node.cfg(), node.removed("SQ.AREA", "MSG.AREA"))
        self.assertEqual(sorted(os.listdir(node.path("bases"))), ["msgarea", "sq.sql"])
        self.assertEqual(sorted(os.listdir(node.path("bases", "msgarea"))), ["3.msg", "lastread.kvx"])

        for name, lines, code in (
                ("kelv.ctl", [status("configuration file [%skelv.ctl] is NOT found... aborted!" % exe_dir())], 255),
                ("setup.cfg", [status("loading config file... done!"),
                               status("loading [setup.cfg]... cannot load [setup.cfg]... aborted!")], 254)):
            with self.subTest(name=name):
                node.write()
                os.remove(node.path(name))
                os.mkfifo(node.path(name))
                rc, out = run_kelvane(node.dir, timeout=30)
                self.check_output(out, ["", status("kelvane v0.1")] + lines + [status("memory leak is 0 byte(s).")])
                self.assertEqual(rc, code, out)
                os.remove(node.path(name))

    def test_configuration_through_a_symbolic_link(self):
        # The file the link points to is replaced, with its permission bits;
        # the link stays a link.
        if WINE:
            self.skipTest("links are a Linux matter here")
        node = Node(self)
        node.request(("ECHO.ONE", 0, ""))
        node.write()
        os.makedirs(node.path("fe"))
        os.rename(node.path("setup.cfg"), node.path("fe", "setup.cfg"))
        os.chmod(node.path("fe", "setup.cfg"), 0o640)
        os.symlink(os.path.join("fe", "setup.cfg"), node.path("setup.cfg"))
        self.check_run(node, self.head() + [self.VALID1] + self.removed("ECHO.ONE") + self.tail_stored())
        self.assertEqual(os.readlink(node.path("setup.cfg")), os.path.join("fe", "setup.cfg"))
        self.assertEqual(readb(node.path("fe", "setup.cfg")), node.removed("ECHO.ONE"))
        self.assertEqual(os.stat(node.path("fe", "setup.cfg")).st_mode & 0o7777, 0o640)
        self.assertEqual(os.listdir(node.path("fe")), ["setup.cfg"])

    def test_stale_temporary_names_are_never_written_through(self):
        # What an earlier run left as setup.cfg.$$$ is replaced by a new
        # file, never written into: a link there must not lead the store to
        # another file.
        kinds = [("a file", lambda node, victim: writeb(node.path("setup.cfg.$$$"), b"stale"))]
        if not WINE:
            kinds += [("a link", lambda node, victim: os.symlink(victim, node.path("setup.cfg.$$$"))),
                      ("a dangling link", lambda node, victim: os.symlink(victim + ".gone", node.path("setup.cfg.$$$")))]
        for kind, make in kinds:
            with self.subTest(kind=kind):
                node = Node(self)
                node.request(("ECHO.ONE", 0, ""))
                node.write()
                victim = node.path("victim.txt")
                writeb(victim, b"keep me")
                make(node, victim)
                self.check_run(node, self.head() + [self.VALID1] + self.removed("ECHO.ONE") + self.tail_stored())
                self.assertEqual(node.cfg(), node.removed("ECHO.ONE"))
                self.assertEqual(readb(victim), b"keep me")
                self.assertFalse(os.path.lexists(node.path("setup.cfg.$$$")))
                self.assertFalse(os.path.lexists(victim + ".gone"))

    def test_base_in_use_is_kept_whole(self):
        # Another program holds one file of a JAM base: every file of it
        # stays, and the sysop is told; the other base goes.
        if WINE:
            self.skipTest("another process's lock, as Linux shows it")
        import fcntl
        node = Node(self)
        node.request(("JAM.AREA", 3, node.jam("jamarea")), ("SQ.AREA", 2, node.squish("sq")))
        node.write()
        fd = os.open(node.path("bases", "jamarea.jdt"), os.O_RDONLY)
        self.addCleanup(os.close, fd)
        fcntl.flock(fd, fcntl.LOCK_SH)
        # plan foresees the deletion: a file taken later is no file in use now.
        self.check_run(node, self.head() + [self.VALID1] + self.removed("JAM.AREA", "SQ.AREA") + self.tail_stored(
            bases=["base [bases\\jamarea] of area [JAM.AREA] is in use or read-only, none of its files deleted",
                   self.deleted("bases\\sq", "SQ.AREA", 3)]),
            plan=False)
        self.assertEqual(node.cfg(), node.removed("JAM.AREA", "SQ.AREA"))
        self.assertEqual(sorted(os.listdir(node.path("bases"))),
                         ["jamarea.jdt", "jamarea.jdx", "jamarea.jhr", "jamarea.jlr"])

    def test_bases_locked_or_read_only_are_kept_whole(self):
        # A tosser holds the Squish lock on byte 0 of the .sqd (as crashmail
        # holds a JAM base's .jhr): after the wait the base is kept. A JAM
        # base with a file no one may write is read-only: kept too.
        if WINE:
            self.skipTest("another process's record lock and write bits, as Linux shows them")
        node = Node(self)
        node.request(("SQ.LOCKED", 2, node.squish("locked")), ("JAM.RO", 3, node.jam("readonly")),
                     ("SQ.FREE", 2, node.squish("free")))
        node.write()
        os.chmod(node.path("bases", "readonly.jdx"), 0o444)
        self.addCleanup(ff.hold_lock(node.path("bases", "locked.sqd")))
        kept = "is in use or read-only, none of its files deleted"
        self.check_run(node, self.head() + [self.VALID1] + self.removed("SQ.LOCKED", "JAM.RO", "SQ.FREE") +
                       self.tail_stored(bases=["base [bases\\locked] of area [SQ.LOCKED] " + kept,
                                               "base [bases\\readonly] of area [JAM.RO] " + kept,
                                               self.deleted("bases\\free", "SQ.FREE", 3)]), plan=False)
        self.assertEqual(sorted(os.listdir(node.path("bases"))),
                         ["locked.sqd", "locked.sqi", "locked.sql", "readonly.jdt", "readonly.jdx", "readonly.jhr",
                          "readonly.jlr"])

    def test_a_base_named_alike_in_another_case_is_another_base(self):
        # On Linux, a3 and A3 are two bases: deleting a3 takes its own file
        # only, never A3's index; a base with no file of its exact name is
        # found in another case, as on Windows.
        if WINE:
            self.skipTest("names that differ only by case")
        node = Node(self)
        for name in ("a3.sqd", "A3.SQD", "A3.SQI", "B4.SQD", "B4.SQI"):
            writeb(node.path("bases", name), b"squish")
        node.request(("A3.LOWER", 2, "bases\\a3"), ("B4.ANY", 2, "bases\\b4"))
        node.write()
        self.check_run(node, self.head() + [self.VALID1] + self.removed("A3.LOWER", "B4.ANY") + self.tail_stored(
            bases=[self.deleted("bases\\a3", "A3.LOWER", 1), self.deleted("bases\\b4", "B4.ANY", 2)]))
        self.assertEqual(sorted(os.listdir(node.path("bases"))), ["A3.SQD", "A3.SQI"])

    def test_kelvutil_writes_text_as_kelvane_does(self):
        # To a pipe and to a file alike: UTF-8 on Linux, the files' code
        # page 866 bytes on Windows; --cp866 gives those bytes everywhere.
        if not KELVUTIL:
            self.skipTest("no kelvutil given")
        node = Node(self)
        node.msg(1, frm="Иван Петров", subject="тест ■")
        native = "cp866" if WINE else "utf-8"
        for opts, text in (([], native), (["--cp866"], "cp866"), (["--utf8"], "utf-8")):
            for to_file in (False, True):
                with self.subTest(opts=opts, to_file=to_file), open(node.path("out"), "w+b") as f:
                    rc, raw, err = run_kelvutil(node.dir, opts + ["list", "Fnetmail"], text=None,
                                                stdout=f if to_file else subprocess.PIPE)
                    self.assertEqual(rc, 0, err)
                    f.seek(0)
                    raw = f.read() if to_file else raw
                    self.assertIn("Иван Петров\t2:463/100\tRobot\t2:463/1\tтест ■".encode(text), raw)

    def test_tildes_in_names_are_shown_as_they_are(self):
        node = Node(self, cfg_name="s~~et~up.cfg")
        node.request(("SQ.AREA", 2, node.squish("s~q")))
        node.config.semaphore = b"s~em\\"
        os.makedirs(node.path("s~em"))
        writeb(node.path("s~em", "febusy.0"), b"")
        node.write(["IfFEBusy poher", "MatchStr ~[ | \\0"])
        self.check_run(node, self.wrong_lines((4, "MatchStr [~[]: unmatched []"), cfg="s~~et~up.cfg") + [self.VALID1]
                       + self.removed("SQ.AREA") + ["   searhing for next message: #",
                                                    status("storing [s~~et~up.cfg]..."),
                                                    "   flag [s~em\\febusy.0] exist, POHER! done!",
                                                    status(self.deleted("bases\\s~q", "SQ.AREA", 3)),
                                                    status("memory leak is 0 byte(s).")])
        self.assertEqual(node.cfg(), node.removed("SQ.AREA"))
        self.assertFalse(os.path.exists(node.path("bases", "s~q.sqd")))

    def test_bytes_after_the_last_area_are_carried(self):
        node = Node(self)
        node.request(("ECHO.ONE", 0, ""), ("ECHO.TWO", 0, ""), body=["-echo.one"])
        node.config.trailer = b"\0\x01 trailing bytes \xff" * 50
        node.write()
        self.check_run(node, self.head() + [self.VALID1] + self.removed("echo.one") + self.tail_stored())
        self.assertEqual(node.cfg(), node.removed("echo.one"))
        self.assertTrue(node.cfg().endswith(node.config.trailer))

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
        self.check_run(node, self.head(anyone=False) + [
            "   valid msg #1: SYSOP (2:463/100) -> robot (2:463/1)",
            "   . area [echo.a] removed;",
            "   valid msg #7: Sysop (2:463/100) -> Robot (2:463/1)",
            "   . area [echo.f] removed;"] + self.tail_stored(), progress=8)
        self.assertEqual(node.cfg(), ff.remove_areas(node.original, [b"echo.a", b"echo.f"]))

    def test_no_conditions_every_message_is_a_request(self):
        # Pairs that can never name an area are told, each once, with the
        # compiler's words; the run goes on with the others.
        node = Node(self)
        node.config.add_area("ECHO.ONE")
        node.ctl_lines += ["MatchStr ^AREA (.*)$", "MatchStr (ab | \\0", "MatchStr |"]
        node.msg(1, body=["AREA ECHO.ONE", "(ab"])
        node.msg(2, frm="Other", orig=(1, 2, 3, 4), dest=(3, 4, 5, 0), body=[])
        node.write()
        self.check_run(node, self.wrong_lines((2, "MatchStr [^AREA (.*)$]: no template"),
                                              (3, "MatchStr [(ab]: unmatched ()"), (4, "MatchStr: no pattern")) + [
            "   valid msg #1: Sysop (2:463/100) -> Robot (2:463/1)",
            "   valid msg #2: Other (1:2/3.4) -> Robot (3:4/5)"] + self.tail_unchanged())
        self.assertEqual(node.cfg(), node.original)

    def test_missing_netmail_folder_is_not_made(self):
        node = Node(self)
        node.request(("ECHO.ONE", 0, ""))
        node.write()
        shutil.rmtree(node.netmail)
        self.check_run(node, self.head() + [status("cannot open netmail base [netmail\\], no requests are read")]
                       + self.tail_unchanged(), progress=2)
        self.assertFalse(os.path.exists(node.netmail))
        self.assertEqual(node.cfg(), node.original)

    def test_blanks_around_a_tag_are_dropped(self):
        node = Node(self)
        node.request(("RU.FIDONET", 0, ""), ("ECHO.TWO", 0, ""), body=["-RU.FIDONET   ", "-\tECHO.TWO\t", "-   "])
        node.write()
        self.check_run(node, self.head() + [self.VALID1] + self.removed("RU.FIDONET", "ECHO.TWO") + self.tail_stored())
        self.assertEqual(node.cfg(), node.removed("RU.FIDONET", "ECHO.TWO"))

    def test_values_that_mean_no_keep_the_bases(self):
        for remove_base, extra in (("off", ["IfFEBusy later"]), ("0", [])):
            with self.subTest(remove_base=remove_base):
                node = Node(self)
                node.request(("SQ.AREA", 2, node.squish("sq")))
                node.write(["RemoveBase " + remove_base] + extra)
                reports = [(3, "RemoveBase [%s]: not yes or no, bases are kept" % remove_base)]
                if extra:
                    reports.append((4, "IfFEBusy [later]: not wait, quit or poher, wait is used"))
                self.check_run(node, self.wrong_lines(*reports) + [self.VALID1] + self.removed("SQ.AREA")
                               + self.tail_stored())
                self.assertEqual(node.cfg(), node.removed("SQ.AREA"))
                self.assertEqual(sorted(os.listdir(node.path("bases"))), ["sq.sqd", "sq.sqi", "sq.sql"])

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
                       + ["   . area [%s] removed;" % n for n in names] + self.tail_stored(bases=[
                           self.deleted("bases\\msgarea\\", "MSG.AREA", 2),
                           self.deleted("bases\\sqarea", "SQ.AREA", 3),
                           self.deleted("bases\\jamarea", "JAM.AREA", 4),
                           self.deleted("bases\\bare.sqd", "BARE.AREA", 2)]))
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

    def test_bases_of_our_own_files_are_kept(self):
        # Areas whose bases are the netmail folder (named in another case,
        # without its backslash), FastEcho's configuration and kelv.ctl: the
        # areas go, the files stay and the sysop is told.
        node = Node(self, cfg_name="fe.sqd")
        node.request(("NET.AREA", 1, "NETMAIL"), ("SELF.AREA", 2, "fe"), ("CTL.AREA", 5, "Pkelv.ctl"),
                     ("SQ.AREA", 2, node.squish("sq")))
        node.msg(2, subject="not a request, still a message", body=[])
        node.write()
        control = readb(node.path("kelv.ctl"))
        tags = ("NET.AREA", "SELF.AREA", "CTL.AREA", "SQ.AREA")
        self.check_run(node, self.head("fe.sqd") + [self.VALID1] + self.removed(*tags)
                       + ["   valid msg #2: Sysop (2:463/100) -> Robot (2:463/1)"]
                       + self.tail_stored("fe.sqd", bases=[
                           "base [NETMAIL] of area [NET.AREA] is the netmail folder, kept",
                           "base [fe] of area [SELF.AREA] holds [fe.sqd], kept",
                           "base [Pkelv.ctl] of area [CTL.AREA] holds [kelv.ctl], kept",
                           self.deleted("bases\\sq", "SQ.AREA", 3)]))
        self.assertEqual(node.cfg(), node.removed(*tags))
        self.assertEqual(sorted(os.listdir(node.netmail)), ["1.msg", "2.msg"])
        self.assertEqual(readb(node.path("kelv.ctl")), control)
        self.assertEqual(os.listdir(node.path("bases")), [])

    def test_a_base_shared_with_an_area_that_stays_is_kept(self):
        # Two areas on one Squish base (the second named in another case) and
        # two on one *.MSG folder, of which both go: the base that an area
        # still uses stays, the one no area uses any more goes.
        node = Node(self)
        shared, gone = node.squish("shared"), node.msgdir("both")
        node.request(("ONE.AREA", 2, shared), ("MSG1.AREA", 1, gone), ("MSG2.AREA", 1, gone))
        node.config.add_area("TWO.AREA", 2, shared.upper() if not WINE else shared)
        node.write()
        tags = ("ONE.AREA", "MSG1.AREA", "MSG2.AREA")
        # The folder both *.MSG areas had goes once, with one line.
        self.check_run(node, self.head() + [self.VALID1] + self.removed(*tags) + self.tail_stored(bases=[
            "base [%s] of area [ONE.AREA] is also the base of area [TWO.AREA], kept" % shared,
            self.deleted(gone, "MSG1.AREA", 2)]))
        self.assertEqual(node.cfg(), node.removed(*tags))
        self.assertEqual(sorted(os.listdir(node.path("bases"))), ["both", "shared.sqd", "shared.sqi", "shared.sql"])
        self.assertEqual(os.listdir(node.path("bases", "both")), ["lastread.kvx"])

    def test_narrow_terminal_keeps_its_rows(self):
        # On a terminal of 50 columns the wipe of the progress line must not
        # wrap: no empty row between the requests.
        if WINE:
            self.skipTest("a Linux terminal")
        import fcntl
        import pty
        import struct
        import termios
        node = Node(self)
        node.ctl_lines.append("MatchStr ^-(.*)$ | \\0")
        for n in (1, 2, 3):
            node.msg(n, frm="A", to="B", body=["-X%d" % n])
        node.write()
        master, slave = pty.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 40, 50, 0, 0))
        p = subprocess.Popen([KELVANE], cwd=node.dir, stdin=subprocess.DEVNULL, stdout=slave,
                             stderr=subprocess.DEVNULL)
        os.close(slave)
        raw = b""
        while True:
            try:
                chunk = os.read(master, 65536)
            except OSError:  # the terminal is gone with the program
                break
            if not chunk:
                break
            raw += chunk
        os.close(master)
        self.assertEqual(p.wait(timeout=60), 0)
        rows = emulate_terminal(raw.decode("utf-8"), 50, 40)
        first = next(i for i, r in enumerate(rows) if "scanning netmail base:" in r)
        self.assertEqual([r for r in rows[first + 1:] if r][:7], [
            "   valid msg #1: A (2:463/100) -> B (2:463/1)", "   . area [X1] not found;",
            "   valid msg #2: A (2:463/100) -> B (2:463/1)", "   . area [X2] not found;",
            "   valid msg #3: A (2:463/100) -> B (2:463/1)", "   . area [X3] not found;",
            "   searhing for next message: 4"], "\n".join(rows))
        last = max(i for i, r in enumerate(rows) if "memory leak" in r)
        self.assertNotIn("", rows[first:last], "\n".join(rows))

    def test_plan_foresees_runs_on_generated_nodes(self):
        # The demo's node (tools/demo.sh), and a larger one whose later
        # requests name generated areas; the second run of each finds the
        # areas gone.
        if not (KELVUTIL and NODEGEN):
            self.skipTest("no kelvutil or nodegen given")
        for options in (["--netmail", "5", "--requests", "1"],
                        ["--netmail", "60", "--requests", "6", "--areas", "40", "--seed", "7"]):
            with self.subTest(options=options):
                d = tempfile.mkdtemp(prefix="kelv-e2e-")
                self.addCleanup(shutil.rmtree, d, True)
                node = os.path.join(d, "node")
                subprocess.run((["wine", NODEGEN] if WINE else [NODEGEN]) + [node] + options, check=True,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               env=dict(os.environ, WINEDEBUG="-all"))
                for run in (1, 2):
                    plan = self.plan(node)
                    self.assertIn("\trequest\tSysop (2:463/100) -> Robot (2:463/1)\n", plan)
                    self.assertEqual(plan.count("\tremoved\t") > 0, run == 1, plan)
                    before = tree(node)
                    rc, out = run_kelvane(node)
                    self.assertEqual(rc, 0, out)
                    self.check_foreseen(plan, out, before, tree(node), rc)

    # --- what the sysop is told, and requests acted on once ---------------

    def test_requests_are_acted_on_once_when_marked(self):
        # An old request stays in the netmail, and the area it named is
        # linked again with a new base. Without MarkRequests the next run
        # removes it again and deletes the new base; with it, the first run
        # marked the request Received and the area stays. A request that is
        # marked already is none with MarkRequests, and one that names
        # nothing to store is marked all the same.
        valid = lambda n: "   valid msg #%d: Sysop (2:463/100) -> Robot (2:463/1)" % n
        for mark in ("no", "yes"):
            with self.subTest(MarkRequests=mark):
                node = Node(self)
                node.request(("SQ.AREA", 2, node.squish("sq")), ("ECHO.TWO", 0, ""), body=["-sq.area", "-nope"])
                node.msg(2, frm="Other", body=["-echo.two"])
                node.msg(3, body=["-echo.two"], attr=0x0105)  # Received
                ctl = ["FromName Sysop", "MarkRequests " + mark]
                node.write(ctl)
                msgs = lambda: {n: readb(node.path("netmail", n))
                                for n in os.listdir(node.netmail) if n.endswith(".msg")}
                old = msgs()
                again = [valid(3), "   . area [echo.two] removed;"] if mark == "no" else []
                self.check_run(node, self.head(anyone=False) + [valid(1), "   . area [sq.area] removed;",
                                                                "   . area [nope] not found;"] + again
                               + self.tail_stored(bases=[self.deleted("bases\\sq", "SQ.AREA", 3)]))
                self.assertEqual(node.cfg(), node.removed("SQ.AREA", *(["ECHO.TWO"] if again else [])))
                self.assertEqual(os.listdir(node.path("bases")), [])
                if mark == "yes":
                    self.assertIn("\nmessage\t3\talready received\t%s\n" % valid(3)[17:], self.last_plan)
                    old["1.msg"] = received(old["1.msg"])
                self.assertEqual(msgs(), old)

                # The areas are linked again, a new base made, a new request
                # names nothing there is.
                node.squish("sq")
                node.write(ctl)
                node.msg(4, body=["-nope"])
                old = msgs()
                if mark == "no":
                    self.check_run(node, self.head(anyone=False) + [
                        valid(1), "   . area [sq.area] removed;", "   . area [nope] not found;"] + again
                        + [valid(4), "   . area [nope] not found;"]
                        + self.tail_stored(bases=[self.deleted("bases\\sq", "SQ.AREA", 3)]))
                    self.assertEqual(node.cfg(), node.removed("SQ.AREA", "ECHO.TWO"))
                    self.assertEqual(os.listdir(node.path("bases")), [])
                else:
                    self.check_run(node, self.head(anyone=False) + [valid(4), "   . area [nope] not found;"]
                                   + self.tail_unchanged())
                    self.assertEqual(node.cfg(), node.original)
                    self.assertEqual(sorted(os.listdir(node.path("bases"))), ["sq.sqd", "sq.sqi", "sq.sql"])
                    old["4.msg"] = received(old["4.msg"])
                self.assertEqual(msgs(), old)
                if mark == "no":
                    continue

                # A request that cannot be marked (its temporary name is
                # taken by a folder) is told, and stays as it was.
                node.msg(5, body=["-nope"])
                os.makedirs(node.path("netmail", "5.msg.$$$"))
                old = msgs()
                self.check_run(node, self.head(anyone=False) + [valid(5), "   . area [nope] not found;"]
                               + self.tail_unchanged()[:-1]
                               + [status("request #5 could not be marked received: a later run reads it again"),
                                  status("memory leak is 0 byte(s).")], plan=False)
                self.assertEqual(msgs(), old)

    def test_misspelt_and_impossible_conditions_are_named(self):
        # FromAdr for FromAddr, an address with a domain and one that is no
        # address are wrong lines with their reasons and place no condition:
        # the run says that anyone's requests are accepted, and kelvutil ctl
        # and plan end with 1. Spelt right, the sender is a condition. The
        # DOS end-of-file byte at the end of the file is none of its lines.
        if not KELVUTIL:
            self.skipTest("no kelvutil given")
        node = Node(self)
        node.request(("SQ.AREA", 2, node.squish("sq")), orig=(1, 2, 3, 0))
        request = "   valid msg #1: Sysop (1:2/3) -> Robot (2:463/1)"
        for ctl, code in ((["FromAddr 2:463/100", "ToAddr 2:463/1"], 0),
                          (["FromAdr 2:463/100", "FromAddr 2:5020/1@fidonet", "ToAddr garbage"], 1)):
            with self.subTest(ctl=ctl):
                node.write(ctl)
                writeb(node.path("kelv.ctl"), readb(node.path("kelv.ctl")) + b"\x1a")
                rc, out, err = run_kelvutil(node.dir, ["ctl", "kelv.ctl"])
                self.assertEqual(rc, code, err)
                wrong = [l for l in out.split("\n") if l.startswith("WrongLine")]
                if code == 0:
                    self.assertEqual((wrong, err), ([], ""))
                    self.assertIn("\nFromAddr\t2:463/100\n", out)
                    self.check_run(node, self.head(anyone=False) + self.tail_unchanged())
                    self.assertEqual(node.cfg(), node.original)
                    continue
                reasons = [(3, "unknown keyword [FromAdr]"),
                           (4, "FromAddr [2:5020/1@fidonet]: an address with a domain, which netmail addresses "
                               "never carry, ignored"),
                           (5, "ToAddr [garbage]: not an address (zone:net/node or zone:net/node.point), ignored")]
                self.assertEqual(wrong, ["WrongLine\t%d\t%s" % r for r in reasons])
                self.assertEqual(err, "kelvutil ctl: warning: no FromName or FromAddr: requests from anyone are "
                                      "accepted\nkelvutil ctl: kelv.ctl has 3 wrong lines\n")
                self.check_run(node, self.wrong_lines(*reasons) + [request] + self.removed("SQ.AREA")
                               + self.tail_stored(bases=[self.deleted("bases\\sq", "SQ.AREA", 3)]))
                self.assertEqual(node.cfg(), node.removed("SQ.AREA"))
                self.assertEqual(os.listdir(node.path("bases")), [])

    def test_values_in_utf8_are_told(self):
        # Saved as UTF-8, a Cyrillic ToName never matches the CP866 netmail:
        # the run says so before its scan, and kelvutil ctl warns. In a
        # comment UTF-8 is harmless: neither says a word.
        robot = "\u0420\u043e\u0431\u043e\u0442"
        warning = "[kelv.ctl] looks like UTF-8 text (from line 5): its letters beyond ASCII never match code page " \
                  "866 netmail"
        for to in (robot.encode("utf-8"), robot.encode("cp866")):
            with self.subTest(to=to):
                node = Node(self)
                node.request(("SQ.AREA", 2, node.squish("sq")), to=robot)
                node.write(["FromName Sysop", b"; " + robot.encode("utf-8"), b"ToName " + to])
                utf8 = to == robot.encode("utf-8")
                rc, _, err = run_kelvutil(node.dir, ["ctl", "kelv.ctl"])
                self.assertEqual((rc, err), (0, "kelvutil ctl: warning: %s\n" % warning if utf8 else ""))
                head = self.head(anyone=False)
                if utf8:
                    self.check_run(node, head[:-1] + [status(warning)] + head[-1:] + self.tail_unchanged())
                    self.assertEqual(node.cfg(), node.original)
                else:
                    self.check_run(node, head + ["   valid msg #1: Sysop (2:463/100) -> %s (2:463/1)" % robot]
                                   + self.removed("SQ.AREA")
                                   + self.tail_stored(bases=[self.deleted("bases\\sq", "SQ.AREA", 3)]))
                    self.assertEqual(node.cfg(), node.removed("SQ.AREA"))

    def test_bracket_sets_compare_bytes_exactly(self):
        # Letters match without regard to case, [a-z] only lower case: as
        # the regex help and the README say, with the same example.
        if not KELVUTIL:
            self.skipTest("no kelvutil given")
        example = ["^-([a-z.]+)$", "\\0", "-echo.one", "-ECHO.ONE"]
        rc, out, _ = run_kelvutil(tempfile.gettempdir(), ["regex"] + example)
        self.assertEqual((rc, out), (0, "echo.one\n\n"))
        command = "kelvutil regex %s" % " ".join("'%s'" % a for a in example)
        self.assertIn("  %s\n\nprints echo.one and then an empty line" % command,
                      run_kelvutil(tempfile.gettempdir(), ["regex", "--help"])[1])
        with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "README.md"), encoding="utf-8") as f:
            self.assertIn("$ %s\necho.one\n\n```" % command, f.read())

    # --- the busy flag ----------------------------------------------------

    def busy_node(self, policy):
        if not KELVUTIL:
            self.skipTest("no kelvutil given")
        node = Node(self)
        node.config.add_area("ECHO.ONE", 2, node.squish("one"))
        node.config.add_area("ECHO.TWO")
        node.ctl_lines += ["MatchStr ^-(.*)$ | \\0", "IfFEBusy " + policy, "MarkRequests yes"]
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
                                            self.nothing_removed(), status("memory leak is 0 byte(s).")], code=253)
        self.assertEqual(node.cfg(), node.original)
        # The configuration still lists the area, so its base is still there.
        self.assertEqual(sorted(os.listdir(node.path("bases"))), ["one.sqd", "one.sqi", "one.sql"])

    def test_busy_poher(self):
        node = self.busy_node("poher")
        self.check_run(node, self.head() + ["   valid msg #1: Sysop (2:463/100) -> Robot (2:463/1)",
                                            "   . area [echo.one] removed;", "   searhing for next message: #",
                                            status("storing [setup.cfg]..."),
                                            "   flag [sem\\febusy.0] exist, POHER! done!",
                                            status(self.deleted("bases\\one", "ECHO.ONE", 3)),
                                            status("memory leak is 0 byte(s).")])
        self.assertEqual(node.cfg(), ff.remove_areas(node.original, [b"echo.one"]))

    def test_busy_wait_until_the_flag_goes(self):
        # The flag goes once the waiting row has reached the pipe: it must
        # get there while kelvane waits, or the wait never ends.
        node = self.busy_node("wait")
        flag = node.path("sem", "febusy.0")

        def watch(raw, _):
            if raw.endswith(b"we must wait") and os.path.exists(flag):
                os.remove(flag)

        rc, out = run_kelvane(node.dir, watch=watch, timeout=60)
        self.check_output(out, self.head() + [self.VALID1, "   . area [echo.one] removed;",
                                              "   searhing for next message: #", status("storing [setup.cfg]..."),
                                              "   flag [sem\\febusy.0] exist, we must wait done!",
                                              status(self.deleted("bases\\one", "ECHO.ONE", 3)),
                                              status("memory leak is 0 byte(s).")])
        self.assertEqual(rc, 0, out)
        self.assertEqual(node.cfg(), node.removed("echo.one"))
        self.assertEqual(os.listdir(node.path("bases")), [])

    def test_interrupted_wait_deletes_nothing(self):
        node = self.busy_node("wait")
        before = node.snapshot()

        def watch(raw, proc):
            if raw.endswith(b"we must wait"):
                if WINE:
                    proc.kill()
                else:
                    proc.send_signal(signal.SIGINT)  # Ctrl-C

        rc, out = run_kelvane(node.dir, watch=watch, timeout=60)
        self.assertNotEqual(rc, 0, out)
        self.assertEqual(node.snapshot(), before)

    def test_flag_is_not_looked_at_when_nothing_changes(self):
        node = self.busy_node("quit")
        with open(node.path("netmail", "1.msg"), "r+b") as f:
            f.truncate(190)  # the request now names nothing
        self.check_run(node, self.head() + ["   valid msg #1: Sysop (2:463/100) -> Robot (2:463/1)"]
                       + self.tail_unchanged())


if __name__ == "__main__":
    KELVANE = os.path.abspath(sys.argv[1])
    args = sys.argv[2:]
    while args and args[0] in ("--wine", "--kelvutil", "--nodegen", "--faults"):
        if args[0] == "--wine":
            WINE = True
            args = args[1:]
        else:
            if args[0] == "--kelvutil":
                KELVUTIL = os.path.abspath(args[1])
            elif args[0] == "--faults":
                FAULTS = os.path.abspath(args[1])
            else:
                NODEGEN = os.path.abspath(args[1])
            args = args[2:]
    unittest.main(argv=[sys.argv[0]] + args, verbosity=2)
