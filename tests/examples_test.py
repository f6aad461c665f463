"""Every example of the README and of the manual pages, run as it stands.

The README's code blocks run from a folder that stands for the top of the
repository: build/native there is the build tree, and demo-node the demo's
node, made by tools/demo.sh as ./build.sh demo makes it once the programs
are built. The manual pages' examples ("$ " lines in their EXAMPLES
section) run in a node made by nodegen (the demo's node), which stands for
/srv/fido. Each block runs in one shell, kelvane and kelvutil on its PATH;
each command must end with exit code 0 and print what the page shows under
it, or something when it shows nothing. A block of kelv.ctl lines must be
read by kelvutil ctl without a wrong line.

Usage: examples_test.py SOURCE_DIR BUILD_DIR
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from package_test import sections, unroff  # noqa: E402

SOURCE = BUILD = None
# Commands of the README that stand for others here: the demo's last step,
# once its programs are built; the test command, which tests/setup_test.py
# runs with a failing package installer (None: not run here).
STANDS_FOR = {"./build.sh demo": "sh {source}/tools/demo.sh build/native demo-node",
              "./build.sh test": None}
MARK = "\036"


def readme_blocks(text):
    """The fenced code blocks of the README: lists of lines."""
    return [b.split("\n")[1:-1] for b in re.findall(r"^```[^\n]*\n.*?^```$", text, re.M | re.S)]


def page_blocks(page):
    """The .nf blocks of a manual page's EXAMPLES section as they read."""
    blocks, block = [], None
    for line in sections(page, ".SH")["EXAMPLES"]:
        if line == ".nf":
            block = []
        elif line == ".fi":
            blocks.append(block)
            block = None
        elif block is not None and not line.startswith("."):
            block.append(unroff(line))
    return blocks


def commands(block, prompt):
    """[(command, shown output or None)] of a block; prompt "$ " where the
    block shows a session, "" where every line is a command."""
    out = []
    for line in block:
        if line.startswith(prompt):
            out.append([line[len(prompt):], None])
        elif out:
            out[-1][1] = (out[-1][1] or "") + line + "\n"
    return out


class Examples(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="kelv-examples-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.env = dict(os.environ, HOME=os.path.join(self.tmp, "home"), PATH=os.pathsep.join(
            [os.path.join(BUILD, "tools"), os.path.join(BUILD, "app"), os.environ["PATH"]]))

    def node(self, name):
        d = os.path.join(self.tmp, name)
        subprocess.run([os.path.join(BUILD, "tools", "nodegen"), d, "--netmail", "5", "--requests", "1"],
                       check=True, stdout=subprocess.DEVNULL)
        return d

    def run_block(self, block, cwd, prompt="", srv=None):
        """Runs a block; the number of commands it ran."""
        if block and block[0].startswith("FastEchoConfig"):
            ctl = os.path.join(self.tmp, "example.ctl")
            with open(ctl, "w", encoding="cp866") as f:
                f.write("\r\n".join(block) + "\r\n")
            read = subprocess.run(["kelvutil", "ctl", ctl], env=self.env, capture_output=True, text=True)
            self.assertEqual(read.returncode, 0, read.stderr)
            self.assertNotIn("\nWrongLine", "\n" + read.stdout, "\n".join(block))
            return 1
        script, cmds = "set -o pipefail\n", []
        for cmd, shown in commands(block, prompt):
            key = cmd.split("#")[0].strip()
            run = STANDS_FOR[key] if key in STANDS_FOR else cmd.replace("/srv/fido", srv or "/srv/fido")
            if run is not None:
                run = run.format(source=SOURCE) if key in STANDS_FOR else run
                script += "printf '\\036\\n'\n%s\nprintf '\\n\\036rc=%%d\\n' $?\n" % run
                cmds.append((cmd, shown))
        p = subprocess.run(["bash", "-c", script], cwd=cwd, env=self.env, capture_output=True, timeout=600)
        parts = p.stdout.decode("utf-8").split(MARK)[1:]
        self.assertEqual(len(parts), 2 * len(cmds), p.stdout.decode() + p.stderr.decode())
        for (cmd, shown), out, rc in zip(cmds, parts[0::2], parts[1::2]):
            out = out[1:-1]  # the marks' line ends
            with self.subTest(cmd=cmd):
                self.assertEqual(rc, "rc=0\n", out + p.stderr.decode())
                if shown is not None:
                    self.assertEqual(out, shown)
                else:
                    self.assertNotEqual(out.strip(), "", p.stderr.decode())
        return len(cmds)

    def test_readme(self):
        top = os.path.join(self.tmp, "top")
        os.makedirs(os.path.join(top, "build"))
        os.symlink(BUILD, os.path.join(top, "build", "native"))
        with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as f:
            blocks = readme_blocks(f.read())
        self.assertGreaterEqual(sum(self.run_block(b, top) for b in blocks), 7)
        # The install block put the programs where the README says.
        self.assertTrue(os.path.isfile(os.path.join(self.tmp, "home", ".local", "bin", "kelvutil")))

    def test_manual_pages(self):
        for name in ("kelvane", "kelvutil"):
            with open(os.path.join(SOURCE, "doc", "man", name + ".1.in"), encoding="utf-8") as f:
                page = f.read()
            node = self.node(name)
            ran = sum(self.run_block(b, node, "$ ", node) for b in page_blocks(page))
            self.assertGreaterEqual(ran, 3, name)


if __name__ == "__main__":
    SOURCE, BUILD = (os.path.abspath(a) for a in sys.argv[1:3])
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)
