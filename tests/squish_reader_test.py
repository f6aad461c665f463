"""A Squish base written by kelvane's library, read by a reader of its own.

The reader below is written from doc/formats/squish.md alone and shares no
code with the library. The test runs squish_writer (through Wine for the
Win32 build), which writes 30 netmail messages by a recipe, links replies,
deletes two and rewrites one, then decodes every byte of the base and
checks every field of every message, the frame chain, the free chain and
the header against the recipe. The reader is first checked on the bases of
another implementation (tests/data/squish) against that implementation's
own read-back.

Usage: squish_reader_test.py WRITER SAMPLES_DIR [--wine]
"""
import os
import struct
import subprocess
import sys
import tempfile
import unittest

WRITER = ""
SAMPLES = ""
WINE = False

FRAME_ID = 0xAFAE4453


def lower_latin(data: bytes) -> bytes:
    return bytes(b + 32 if 0x41 <= b <= 0x5A else b for b in data)


def squish_hash(name: bytes) -> int:
    h = 0
    for c in lower_latin(name):
        h = ((h << 4) + c) & 0xFFFFFFFF
        g = h & 0xF0000000
        if g:
            h |= (g >> 24) | g
    return h & 0x7FFFFFFF


def field(data: bytes) -> bytes:
    nul = data.find(b"\0")
    return data if nul < 0 else data[:nul]


def unpack_date(v: int):
    """Squish packing: MS-DOS date in the low half, time in the high half."""
    if v == 0:
        return None
    d, t = v & 0xFFFF, v >> 16
    return ((d >> 9) + 1980, (d >> 5) & 15, d & 31, t >> 11, (t >> 5) & 63, (t & 31) * 2)


class Base:
    """The three tables of a Squish base, decoded."""

    def __init__(self, path):
        with open(path + ".sqd", "rb") as f:
            self.data = f.read()
        with open(path + ".sqi", "rb") as f:
            self.index_bytes = f.read()
        d = self.data
        (self.length, self.num_msg, self.high_msg, self.skip, self.high_water, self.next_uid) = struct.unpack_from(
            "<H2x5I", d, 0)
        (self.first_frame, self.last_frame, self.first_free, self.last_free, self.end_frame,
         self.max_msg) = struct.unpack_from("<6I", d, 104)
        self.keep_days, self.frame_size = struct.unpack_from("<HH", d, 128)
        self.index = [struct.unpack_from("<3I", self.index_bytes, 12 * k)
                      for k in range(min(self.num_msg, len(self.index_bytes) // 12))]

    def frame(self, at):
        ident, nxt, prev, flen, mlen, clen, ftype = struct.unpack_from("<6IH", self.data, at)
        return {"id": ident, "next": nxt, "prev": prev, "frame_length": flen, "msg_length": mlen,
                "ctrl_length": clen, "type": ftype}

    def message(self, n):
        """Message n (from 1): its index record, frame header and fields."""
        at, uid, hsh = self.index[n - 1]
        fr = self.frame(at)
        h = at + 28
        m = {"frame_at": at, "index_uid": uid, "hash": hsh, "frame": fr}
        m["attr"], = struct.unpack_from("<I", self.data, h)
        m["from"] = field(self.data[h + 4:h + 40])
        m["to"] = field(self.data[h + 40:h + 76])
        m["subject"] = field(self.data[h + 76:h + 148])
        m["orig"] = struct.unpack_from("<4H", self.data, h + 148)
        m["dest"] = struct.unpack_from("<4H", self.data, h + 156)
        written, arrived = struct.unpack_from("<II", self.data, h + 164)
        m["written"], m["arrived"] = unpack_date(written), unpack_date(arrived)
        m["utc"], = struct.unpack_from("<h", self.data, h + 172)
        m["reply_to"], = struct.unpack_from("<I", self.data, h + 174)
        m["replies"] = list(struct.unpack_from("<9I", self.data, h + 178))
        m["uid"], = struct.unpack_from("<I", self.data, h + 214)
        m["date"] = field(self.data[h + 218:h + 238])
        body = self.data[h + 238:h + fr["msg_length"]]
        ctrl = body[:fr["ctrl_length"]]
        m["ctrl_raw"] = ctrl
        m["ctrl"] = [b"\x01" + p for p in field(ctrl).split(b"\x01") if p]
        m["text"] = field(body[fr["ctrl_length"]:])
        return m

    def chain(self, start):
        seen, at = [], start
        while at and at not in seen and len(seen) <= len(self.data) // 28:
            seen.append(at)
            at = self.frame(at)["next"]
        return seen


def recipe(i):
    """What squish_writer stores for message i of its recipe."""
    names = [b"All", b"Sergey Ivanov", b"\x88\xa2\xa0\xad \x8f\xa5\xe2\xe0\xae\xa2"]
    n = str(i).encode()
    attr = (1 if i % 2 else 0) | (0x100 if i % 3 == 0 else 0) | (0x80000 if i % 4 == 0 else 0)
    return {
        "from": b"Sender " + n, "to": names[i % 3], "subject": b"Subject " + n, "attr": attr,
        "orig": (2, 5020, i, i % 3), "dest": (1, 100 + i, i % 5, i % 2),
        "written": (2024, i % 12 + 1, i % 28 + 1, i % 24, i % 60, (2 * i) % 60 // 2 * 2),
        "arrived": (2025, i % 12 + 1, i % 28 + 1, i % 24, i % 60, (4 * i) % 60 // 2 * 2),
        "date": b"%02d %s %02d  %02d:%02d:%02d" % (
            i % 28 + 1, [b"Jan", b"Feb", b"Mar", b"Apr", b"May", b"Jun", b"Jul", b"Aug", b"Sep", b"Oct", b"Nov",
                         b"Dec"][i % 12], 24, i % 24, i % 60, (2 * i) % 60),
        "utc": i * 10,
        "ctrl": sorted(([b"\x01FMPT %d" % (i % 3)] if i % 3 else []) + ([b"\x01TOPT 1"] if i % 2 else []) + [
            b"\x01INTL 1:%d/%d 2:5020/%d" % (100 + i, i % 5, i), b"\x01MSGID: 2:5020/%d %08d" % (i, i),
            b"\x01PID: writer", b"\x01CHRS: CP866 2"]),
        "text": b"Line 1 of " + n + b"\rLine 2 \xaf\xe0\xa8\r\x01Via 2:5020/1 @20240405.134744 writer\r",
    }


def run_writer(path):
    cmd = (["wine", WRITER] if WINE else [WRITER]) + [path]
    return subprocess.run(cmd, env=dict(os.environ, WINEDEBUG="-all"), capture_output=True, timeout=240)


class ReaderOnOtherSoftware(unittest.TestCase):
    """The reader agrees with another implementation's read-back."""

    def test_sample_base_reads_as_its_dump(self):
        base = Base(os.path.join(SAMPLES, "net"))
        with open(os.path.join(SAMPLES, "net.dump.txt"), encoding="latin-1") as f:
            dumped = [line.split() for line in f if line.startswith("msg ")]
        self.assertEqual(base.num_msg, len(dumped))
        for n, words in enumerate(dumped, 1):
            m = base.message(n)
            self.assertEqual(m["frame"]["id"], FRAME_ID)
            self.assertEqual(m["index_uid"], int(words[3]))
            self.assertEqual(m["uid"], int(words[3]))
            self.assertEqual(m["hash"] & 0x7FFFFFFF, squish_hash(m["to"]))


class WrittenBase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.path = os.path.join(cls.tmp.name, "area")
        done = run_writer(cls.path)
        if done.returncode != 0:
            raise AssertionError("squish_writer failed: %r" % (done.stderr,))
        cls.base = Base(cls.path)
        # The recipe's numbers in message order: 5 and 10 deleted, 7
        # rewritten as 107 in its place.
        cls.order = [107 if i == 7 else i for i in range(1, 31) if i not in (5, 10)]

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_header(self):
        b = self.base
        self.assertEqual((b.length, b.frame_size), (256, 28))
        self.assertEqual((b.num_msg, b.high_msg), (28, 28))
        self.assertEqual(len(b.index_bytes), 28 * 12)
        self.assertEqual(b.next_uid, 32)
        self.assertEqual(b.high_water, 31)
        self.assertEqual(b.end_frame, len(b.data))
        self.assertTrue(os.path.exists(self.path + ".sql"))

    def test_every_field_of_every_message(self):
        for n, i in enumerate(self.order, 1):
            with self.subTest(message=n, recipe=i):
                m = self.base.message(n)
                want = recipe(i)
                self.assertEqual(m["frame"]["id"], FRAME_ID)
                self.assertEqual(m["frame"]["type"], 0)
                self.assertEqual(m["frame"]["frame_length"], m["frame"]["msg_length"])
                self.assertEqual(m["frame"]["msg_length"], 238 + len(m["ctrl_raw"]) + len(m["text"]) + 1)
                self.assertEqual(m["ctrl_raw"][-1:], b"\0")
                uid = 8 if i == 107 else i + 1
                self.assertEqual((m["index_uid"], m["uid"]), (uid, uid))
                received = 0x80000000 if want["attr"] & 0x0004 else 0
                self.assertEqual(m["hash"], squish_hash(want["to"]) | received)
                for key in ("from", "to", "subject", "attr", "orig", "dest", "written", "arrived", "date", "utc",
                            "text"):
                    self.assertEqual(m[key], want[key], key)
                self.assertEqual(sorted(m["ctrl"]), want["ctrl"])

    def test_reply_links_are_umsgids(self):
        links = {n: (self.base.message(n)["reply_to"], self.base.message(n)["replies"])
                 for n in range(1, len(self.order) + 1)}
        self.assertEqual(links[1], (0, [3, 4, 0, 0, 0, 0, 0, 0, 0]))
        self.assertEqual(links[2], (2, [5, 0, 0, 0, 0, 0, 0, 0, 0]))
        self.assertEqual(links[3][0], 2)
        self.assertEqual(links[4][0], 3)
        for n in range(5, len(self.order) + 1):
            self.assertEqual(links[n], (0, [0] * 9))

    def test_frame_chain_follows_the_index(self):
        b = self.base
        frames = [rec[0] for rec in b.index]
        self.assertEqual(b.chain(b.first_frame), frames)
        self.assertEqual(b.last_frame, frames[-1])
        prev = 0
        for at in frames:
            self.assertEqual(b.frame(at)["prev"], prev)
            prev = at

    def test_free_chain_holds_the_deleted_and_the_replaced(self):
        b = self.base
        free = b.chain(b.first_free)
        self.assertEqual(len(free), 3)
        self.assertEqual(b.last_free, free[-1])
        prev = 0
        for at in free:
            fr = b.frame(at)
            self.assertEqual((fr["id"], fr["type"], fr["prev"]), (FRAME_ID, 1, prev))
            prev = at
        subjects = sorted(field(b.data[at + 28 + 76:at + 28 + 148]) for at in free)
        self.assertEqual(subjects, [b"Subject 10", b"Subject 5", b"Subject 7"])
        self.assertFalse(set(free) & {rec[0] for rec in b.index})


if __name__ == "__main__":
    args = sys.argv[1:]
    WRITER, SAMPLES = args[0], args[1]
    rest = args[2:]
    if rest and rest[0] == "--wine":
        WINE = True
        rest = rest[1:]
    unittest.main(argv=[sys.argv[0]] + rest)
