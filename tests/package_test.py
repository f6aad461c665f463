"""The package a sysop installs, made by cpack from this build and unpacked
as it would be on the node: the Debian package with `dpkg -x` into a
scratch root (Linux build), the zip into a folder (Win32 build, its
programs run under Wine).

It holds the two programs, their manual pages (Debian), the README, the
licence (Debian: a machine-readable copyright file beside the changelog)
and nothing else; lintian finds no error and no warning in the Debian
package; both programs run from where the package put them; the
Debian package depends on the C and C++ runtime only; kelvutil(1) says
what `kelvutil COMMAND --help` says, for every command; and the README,
kelvane(1) and kelvutil's list of commands agree.

Usage: package_test.py CPACK CPACK_CONFIG VERSION README [--wine]
"""
import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_test as e2e  # noqa: E402

CPACK = CONFIG = VERSION = README = None
WINE = False

DEB_FILES = {"usr/bin/kelvane", "usr/bin/kelvutil", "usr/share/man/man1/kelvane.1.gz",
             "usr/share/man/man1/kelvutil.1.gz", "usr/share/doc/kelvane/README.md",
             "usr/share/doc/kelvane/copyright", "usr/share/doc/kelvane/changelog.gz"}
ZIP_FILES = {"kelvane.exe", "kelvutil.exe", "README.txt", "LICENSE.txt"}
# What a program built with g++ and linked with the system's libraries needs.
RUNTIME_PACKAGES = {"libc6", "libgcc-s1", "libstdc++6"}
MAN_SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "FILES", "EXIT STATUS", "EXAMPLES", "SEE ALSO"]


def unroff(text):
    """A line of the pages as it reads: the escapes and font changes they
    use turned back into text."""
    for esc, plain in (("\\fI", ""), ("\\fB", ""), ("\\fR", ""), ("\\fP", ""), ("\\(dq", '"'),
                       ("\\&", ""), ("\\-", "-"), ("\\e", "\\")):
        text = text.replace(esc, plain)
    return text


def words(text):
    return " ".join(text.split())


def sections(page, macro):
    """{title: [lines]} for each .SH or .SS of a page (lines up to the next
    heading of that kind)."""
    out, title = {}, None
    for line in page.split("\n"):
        if line.startswith(macro + " "):
            title = unroff(line[len(macro) + 1:].strip().strip('"'))
            out[title] = []
        elif title is not None:
            if macro == ".SS" and line.startswith(".SH "):
                title = None
            else:
                out[title].append(line)
    return out


def readme_table(readme, heading):
    """The first cells of the table under a README heading, backquotes
    removed."""
    part = readme.split("\n## " + heading + "\n", 1)[1].split("\n## ", 1)[0]
    return [row.split("|")[1].strip().strip("`") for row in part.split("\n")
            if row.startswith("| ") and not row.startswith("| ---")][1:]


class Package(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="kelv-pkg-")
        made = subprocess.run([CPACK, "--config", CONFIG, "-B", cls.tmp],
                              capture_output=True, text=True)
        if made.returncode != 0:
            shutil.rmtree(cls.tmp, True)
            raise AssertionError("cpack failed:\n" + made.stdout + made.stderr)
        (cls.package,) = [os.path.join(cls.tmp, n) for n in os.listdir(cls.tmp)
                          if n.endswith((".deb", ".zip"))]
        cls.root = os.path.join(cls.tmp, "root")
        if WINE:
            with zipfile.ZipFile(cls.package) as z:
                cls.names = set(z.namelist())
                z.extractall(cls.root)
            cls.bin, cls.exe = cls.root, ".exe"
        else:
            subprocess.run(["dpkg", "-x", cls.package, cls.root], check=True)
            cls.names = {os.path.relpath(os.path.join(d, n), cls.root)
                         for d, _, ns in os.walk(cls.root) for n in ns}
            cls.bin, cls.exe = os.path.join(cls.root, "usr", "bin"), ""

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, True)

    def program(self, name):
        return os.path.join(self.bin, name + self.exe)

    def kelvutil(self, *args, cwd=None):
        cmd = (["wine"] if WINE else []) + [self.program("kelvutil")] + list(args)
        run = subprocess.run(cmd, cwd=cwd, capture_output=True, stdin=subprocess.DEVNULL,
                             env=dict(os.environ, WINEDEBUG="-all"))
        self.assertEqual(run.returncode, 0, run.stderr)
        return run.stdout.decode("cp866" if WINE else "utf-8").replace("\r\n", "\n")

    def page(self, name):
        with gzip.open(os.path.join(self.root, "usr/share/man/man1", name + ".1.gz")) as f:
            return f.read().decode("utf-8")

    def readme(self):
        with open(README, "rb") as f:
            return f.read()

    def commands(self):
        """(name, usage) for each command `kelvutil --help` lists."""
        help_text = self.kelvutil("--help").split("\ncommands:\n", 1)[1]
        return [(m.group(1), m.group(2).strip())
                for m in re.finditer(r"^  (\S+) *(.*)$", help_text, re.M)]

    def test_holds_the_programs_and_their_documents_only(self):
        self.assertEqual(self.names, ZIP_FILES if WINE else DEB_FILES)
        if not WINE:
            for p in ("kelvane", "kelvutil"):
                self.assertTrue(os.access(self.program(p), os.X_OK), p)
            fields = subprocess.run(["dpkg-deb", "-f", self.package, "Package", "Version", "Depends"],
                                    capture_output=True, text=True, check=True).stdout
            self.assertIn("Package: kelvane\n", fields)
            self.assertIn("Version: %s\n" % VERSION, fields)
            depends = re.search(r"^Depends: (.*)$", fields, re.M).group(1)
            names = {d.split("(")[0].strip() for d in depends.split(",")}
            self.assertIn("libc6", names)
            self.assertLessEqual(names, RUNTIME_PACKAGES, depends)

    def test_lintian_finds_no_error_and_no_warning(self):
        if WINE:
            self.skipTest("lintian reads Debian packages")
        if not shutil.which("lintian"):
            self.skipTest("lintian is not installed (./build.sh deps installs it)")
        run = subprocess.run(["lintian", self.package], capture_output=True, text=True)
        found = [l for l in run.stdout.split("\n") if re.match(r"[EW]: ", l)]
        self.assertEqual(found, [], run.stdout + run.stderr)
        # lintian does not hold the changelog against the version.
        with gzip.open(os.path.join(self.root, "usr/share/doc/kelvane/changelog.gz"), "rt") as f:
            self.assertTrue(f.readline().startswith("kelvane (%s) " % VERSION))

    def test_readme(self):
        if WINE:
            with open(os.path.join(self.root, "README.txt"), "rb") as f:
                txt = f.read()
            self.assertEqual(txt.count(b"\n"), txt.count(b"\r\n"), "a line without CR LF")
            self.assertEqual(txt.replace(b"\r\n", b"\n"), self.readme().replace(b"\r\n", b"\n"))
        else:
            with open(os.path.join(self.root, "usr/share/doc/kelvane/README.md"), "rb") as f:
                self.assertEqual(f.read(), self.readme())

    def test_programs_run_from_the_package(self):
        e2e.KELVANE, e2e.WINE = self.program("kelvane"), WINE
        node = e2e.Node(self)
        node.request(("ECHO.MSG", 1, node.msgdir("echo")), ("ECHO.SQ", 2, node.squish("sq")))
        node.config.add_area("ECHO.STAYS", 3, node.jam("stays"))
        node.write()

        areas = [l.split("\t")[2] for l in self.kelvutil("fecfg", "setup.cfg", cwd=node.dir).split("\n")
                 if l.startswith("area\t")]
        self.assertEqual(areas, ["ECHO.MSG", "ECHO.SQ", "ECHO.STAYS"])

        rc, out = e2e.run_kelvane(node.dir)
        lines = [("   searhing for next message: #" if e2e.PROGRESS.match(l) else l)
                 for l in out.split("\n")]
        self.assertEqual(lines, [
            "", e2e.status("kelvane v" + VERSION), e2e.status("loading config file... done!"),
            e2e.status("loading [setup.cfg]... success!"), e2e.E2E.ANYONE, e2e.status("scanning netmail base:"),
            e2e.E2E.VALID1, "   . area [ECHO.MSG] removed;", "   . area [ECHO.SQ] removed;",
            "   searhing for next message: #", e2e.status("storing [setup.cfg]... done!"),
            e2e.status("base [bases\\echo\\] of area [ECHO.MSG] deleted (2 files)"),
            e2e.status("base [bases\\sq] of area [ECHO.SQ] deleted (3 files)"),
            e2e.status("memory leak is 0 byte(s)."), ""])
        self.assertEqual(rc, 0, out)
        self.assertEqual(node.cfg(), node.removed("ECHO.MSG", "ECHO.SQ"))
        self.assertEqual(sorted(node.snapshot()), sorted(
            ["kelv.ctl", "setup.cfg", os.path.join("netmail", "1.msg"),
             os.path.join("bases", "echo", "lastread.kvx")]  # a *.MSG base keeps its lastread
            + [os.path.join("bases", "stays." + e) for e in ("jhr", "jdt", "jdx", "jlr")]))

    def test_manual_pages_render_with_every_section(self):
        if WINE:
            self.skipTest("the zip holds no manual pages")
        for name in ("kelvane", "kelvutil"):
            shown = subprocess.run(["groff", "-man", "-Tutf8", "-ww", "-z"], input=self.page(name),
                                   capture_output=True, text=True)
            self.assertEqual((shown.returncode, shown.stderr), (0, ""), name)
            got = list(sections(self.page(name), ".SH"))
            self.assertEqual([s for s in got if s in MAN_SECTIONS], MAN_SECTIONS, name)

    def test_kelvutil_page_says_what_each_help_says(self):
        if WINE:
            self.skipTest("the zip holds no manual pages")
        page = self.page("kelvutil")
        documented = sections("\n".join(sections(page, ".SH")["COMMANDS"]), ".SS")
        synopsis = words(unroff(" ".join(l.split(" ", 1)[1].strip('"') for l in
                                         sections(page, ".SH")["SYNOPSIS"] if l.startswith((".B ", ".I ")))))
        listed = self.commands()
        self.assertGreaterEqual(len(listed), 5)
        self.assertEqual(list(documented), ["kelvutil %s %s" % c for c in listed])
        for name, usage in listed:
            title = "kelvutil %s %s" % (name, usage)
            self.assertIn(title, synopsis)
            help_text = self.kelvutil(name, "--help")
            body = [unroff(l) for l in documented[title] if not l.startswith(".")]
            self.assertEqual(words(" ".join(body)), words(help_text.split("\n", 1)[1]), name)

    def test_readme_agrees_with_the_pages_and_the_help(self):
        readme = self.readme().decode("utf-8")
        listed = ["kelvutil %s %s" % c for c in self.commands()]
        self.assertEqual(readme_table(readme, "kelvutil"), listed)
        if WINE:
            return
        page = sections(self.page("kelvane"), ".SH")
        codes = [l.split()[1] for l in page["EXIT STATUS"] if re.match(r"\.B \d+$", l)]
        self.assertEqual(readme_table(readme, "Exit codes"), codes)
        keywords = [l.split()[1] for l, prev in zip(page["CONTROL FILE"][1:], page["CONTROL FILE"])
                    if prev == ".TP"]
        self.assertEqual(readme_table(readme, "The control file `kelv.ctl`"), keywords)


if __name__ == "__main__":
    CPACK, CONFIG, VERSION, README = sys.argv[1:5]
    args = sys.argv[5:]
    if args and args[0] == "--wine":
        WINE = True
        args = args[1:]
    unittest.main(argv=[sys.argv[0]] + args, verbosity=2)
