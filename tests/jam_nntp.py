#!/usr/bin/env python3
"""What a newsreader sees of a JAM base: jamnntpd, an independent NNTP server
for JAM bases, serves one base on a loopback port, and Python's own NNTP
client reads it.

  jam_nntp.py DIR TAG BASE [POSTFILE]

DIR is a scratch folder for the server's files, TAG the group name, BASE the
base path without extension. With POSTFILE, that article (its bytes as they
stand) is first posted to the group, which makes jamnntpd write a message
into the base. Then every article of the group is printed as a line
"ARTICLE n", its lines, and a line "."; bytes pass through untranslated.
Exit code 0 when all of that worked.
"""
import os
import socket
import subprocess
import sys
import time
import warnings

with warnings.catch_warnings():
    warnings.simplefilter("ignore", DeprecationWarning)
    import nntplib


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def connect(port, server):
    for _ in range(100):
        if server.poll() is not None:
            raise RuntimeError("jamnntpd ended with %d" % server.returncode)
        try:
            return nntplib.NNTP("127.0.0.1", port, timeout=20)
        except OSError:
            time.sleep(0.1)
    raise RuntimeError("jamnntpd does not answer on port %d" % port)


def main():
    work, tag, base = sys.argv[1:4]
    post = sys.argv[4] if len(sys.argv) > 4 else None
    files = {
        "groups": "%s A 2:5020/1 %s\n" % (tag, base),
        "allow": "127.0.0.1 * *\n",
        "users": "",
        "xlat": 'read * unknown-8bit\npost * ""\n',
    }
    for name, text in files.items():
        with open(os.path.join(work, name), "w") as f:
            f.write(text)
    port = free_port()
    server = subprocess.Popen(
        ["jamnntpd", "-port", str(port), "-groups", os.path.join(work, "groups"),
         "-allow", os.path.join(work, "allow"), "-users", os.path.join(work, "users"),
         "-xlat", os.path.join(work, "xlat"), "-logfile", os.path.join(work, "nntp.log"),
         "-noecholog", "-noencode", "-def_flowed", "off"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        client = connect(port, server)
        if post:
            client.group(tag)
            with open(post, "rb") as f:
                client.post(f)
        _, _, first, last, _ = client.group(tag)
        out = sys.stdout.buffer
        for number in range(first, last + 1):
            try:
                _, info = client.article(str(number))
            except (nntplib.NNTPTemporaryError, nntplib.NNTPPermanentError):
                continue  # no such article, or one jamnntpd cannot read (a deleted number: 503)
            out.write(b"ARTICLE %d\n" % number)
            for line in info.lines:
                out.write(line + b"\n")
            out.write(b".\n")
        client.quit()
    finally:
        server.terminate()
        server.wait(timeout=10)
    return 0


if __name__ == "__main__":
    sys.exit(main())
