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
# README commands that stand for others here: the demo's last step, once
# its programs are built; the test command, run by tests/setup_test.py.
STANDS_FOR = {"./build.sh demo": "sh %s/tools/demo.sh build/native demo-node", "./build.sh test": None}
MARK = "\036"


def blocks(path):
    """(lines, prompt) of each example of a README (its code blocks, each
    line a command, or "$ " before each command and what it prints below)
    or of a manual page (the .nf blocks of EXAMPLES, as
    they read: "$ " before a command, what it prints below)."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    if path.endswith(".md"):
        # A block that shows what a command prints has "$ " before the command.
        found = [b.split("\n")[1:-1] for b in re.findall(r"^```[^\n]*\n.*?^```$", text, re.M | re.S)]
        return [(b, "$ " if b and b[0].startswith("$ ") else "") for b in found]
    examples = "\n".join(sections(text, ".SH")["EXAMPLES"])
    return [([unroff(l) for l in b.split("\n") if not l.startswith(".")], "$ ")
            for b in re.findall(r"^\.nf\n(.*?)\n\.fi$", examples, re.M | re.S)]


class Examples(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="kelv-examples-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.env = dict(os.environ, HOME=os.path.join(self.tmp, "home"), PATH=os.pathsep.join(
            [os.path.join(BUILD, "tools"), os.path.join(BUILD, "app"), os.environ["PATH"]]))

    def run_block(self, block, prompt, cwd, node=None):
        """Runs a block in cwd, the node folder (cwd when not given)
        standing for /srv/fido; the number of commands it ran."""
        if block and block[0].startswith("FastEchoConfig"):
            ctl = os.path.join(self.tmp, "example.ctl")
            with open(ctl, "w", encoding="cp866") as f:
                f.write("\r\n".join(block) + "\r\n")
            read = subprocess.run(["kelvutil", "ctl", ctl], env=self.env, capture_output=True, text=True)
            self.assertEqual(read.returncode, 0, read.stderr)
            self.assertNotIn("\nWrongLine", "\n" + read.stdout, "\n".join(block))
            return 1
        script, cmds = "set -o pipefail\n", []
        for line in (l for l in block if prompt or l.strip()):
            if not line.startswith(prompt):  # what the command before prints
                cmds[-1][1] = (cmds[-1][1] or "") + line + "\n"
                continue
            cmd, key = line[len(prompt):], line.split("#")[0].strip()
            run = STANDS_FOR[key] and STANDS_FOR[key] % SOURCE if key in STANDS_FOR else cmd.replace("/srv/fido", node or cwd)
            if run:
                script += "printf '\\036\\n'\n%s\nprintf '\\n\\036%%d\\n' $?\n" % run
                cmds.append([cmd, None])
        p = subprocess.run(["bash", "-c", script], cwd=cwd, env=self.env, capture_output=True, timeout=600)
        parts = p.stdout.decode("utf-8").split(MARK)[1:]
        self.assertEqual(len(parts), 2 * len(cmds), p.stdout.decode() + p.stderr.decode())
        for (cmd, shown), out, rc in zip(cmds, parts[0::2], parts[1::2]):
            out = out[1:-1]  # the marks' line ends
            with self.subTest(cmd=cmd):
                self.assertEqual(rc, "0\n", out + p.stderr.decode())
                if shown:
                    self.assertEqual(out, shown)
                else:
                    self.assertNotEqual(out.strip(), "", p.stderr)
        return len(cmds)

    def test_readme(self):
        top = os.path.join(self.tmp, "top")
        os.makedirs(os.path.join(top, "build"))
        os.symlink(BUILD, os.path.join(top, "build", "native"))
        node = os.path.join(top, "demo-node")
        ran = sum(self.run_block(b, p, top, node) for b, p in blocks(os.path.join(SOURCE, "README.md")))
        self.assertGreaterEqual(ran, 7)
        self.assertTrue(os.path.isfile(os.path.join(self.tmp, "home", ".local", "bin", "kelvutil")))

    def test_manual_pages(self):
        for name in ("kelvane", "kelvutil"):
            node = os.path.join(self.tmp, name)
            subprocess.run([os.path.join(BUILD, "tools", "nodegen"), node, "--netmail", "5", "--requests", "1"],
                           check=True, stdout=subprocess.DEVNULL)
            ran = sum(self.run_block(b, p, node) for b, p in blocks(os.path.join(SOURCE, "doc/man", name + ".1.in")))
            self.assertGreaterEqual(ran, 3, name)


if __name__ == "__main__":
    SOURCE, BUILD = (os.path.abspath(a) for a in sys.argv[1:3])
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)
