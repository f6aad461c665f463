"""Independent writers and readers for the files kelvane works on.

The end-to-end tests build FastEcho configurations and *.MSG netmail with
this module, run the built programs, and check the results against what
this module computes on its own: it shares no code with the program.
"""
import random
import struct

HEADER_SIZE = 4644
NODE_SIZE = 95
AREA_SIZE = 190

# Record size of each known extension block type; 0x0006 records are
# followed by a node bitmap.
EXT_RECORD_SIZES = {0x0001: 72, 0x0006: 206, 0x0007: 42, 0x0008: 62, 0x0009: 128,
                    0x000A: 74, 0x100A: 74, 0x000B: 64, 0x100B: 64, 0x000C: 36}


def upper866(data: bytes) -> bytes:
    out = bytearray()
    for b in data:
        if 0x61 <= b <= 0x7A:
            b -= 32
        elif 0xA0 <= b <= 0xAF:
            b -= 0x20
        elif 0xE0 <= b <= 0xEF:
            b -= 0x50
        elif b == 0xF1:
            b = 0xF0
        out.append(b)
    return bytes(out)


def text_field(data: bytes) -> bytes:
    nul = data.find(b"\0")
    return data if nul < 0 else data[:nul]


def put_field(text: bytes, width: int) -> bytes:
    return text[:width].ljust(width, b"\0")


class Area:
    def __init__(self, tag, base_type=0, path=b"", link_index=0, rng=None):
        self.tag = tag if isinstance(tag, bytes) else tag.encode("cp866")
        self.base_type = base_type
        self.path = path if isinstance(path, bytes) else path.encode("cp866")
        self.link_index = link_index
        rng = rng or random.Random(len(self.tag))
        # Carried bytes hold noise, so a program that drops or moves them shows.
        self.raw = bytearray(rng.randbytes(AREA_SIZE))
        self.raw[0:52] = put_field(self.tag, 52)
        struct.pack_into("<H", self.raw, 54, link_index)
        # The base type is the low bits of the storage word (and 0x6F); keep
        # other bits set to see that they are carried.
        struct.pack_into("<H", self.raw, 62, (base_type & 0x6F) | 0x1080)
        self.raw[82:138] = put_field(self.path, 56)


class Config:
    """A FastEcho configuration, revision 6."""

    def __init__(self, netmail=b"netmail", semaphore=b"", area_bits=64, node_bits=16, seed=1):
        self.rng = random.Random(seed)
        self.header = bytearray(self.rng.randbytes(HEADER_SIZE))
        self.netmail = netmail if isinstance(netmail, bytes) else netmail.encode()
        self.semaphore = semaphore if isinstance(semaphore, bytes) else semaphore.encode()
        self.area_bits = area_bits
        self.node_bits = node_bits
        self.ext_blocks = []   # (type, data bytes)
        self.nodes = []        # (95 bytes, bitmap bytearray)
        self.areas = []
        self.trailer = b""     # bytes after the last area record

    def add_area(self, tag, base_type=0, path=b"", link_index=None):
        if link_index is None:
            link_index = len(self.areas)
        self.areas.append(Area(tag, base_type, path, link_index, self.rng))

    def add_node(self, linked_indexes):
        bitmap = bytearray(self.area_bits // 8)
        for k in linked_indexes:
            bitmap[k // 8] |= 0x80 >> (k % 8)
        self.nodes.append((self.rng.randbytes(NODE_SIZE), bitmap))

    def add_ext_block(self, block_type, records):
        size = EXT_RECORD_SIZES.get(block_type)
        if block_type == 0x0006:
            size += self.node_bits // 8
        data = self.rng.randbytes(size * records if size else records)
        self.ext_blocks.append((block_type, data))

    def to_bytes(self) -> bytes:
        h = bytearray(self.header)
        struct.pack_into("<H", h, 0, 6)
        struct.pack_into("<HH", h, 6, len(self.nodes), len(self.areas))
        h[12:68] = put_field(self.netmail, 56)
        h[908:964] = put_field(self.semaphore, 56)
        ext = b"".join(struct.pack("<Hi", t, len(d)) + d for t, d in self.ext_blocks)
        struct.pack_into("<HHHi", h, 4634, self.area_bits, self.node_bits,
                         struct.unpack_from("<H", h, 4638)[0], len(ext))
        out = bytes(h) + ext
        out += b"".join(raw + bytes(bm) for raw, bm in self.nodes)
        out += b"".join(bytes(a.raw) for a in self.areas)
        return out + self.trailer


def remove_areas(data: bytes, tags) -> bytes:
    """What the configuration must look like after the named areas are
    removed one after the other (first match in file order, blind to case
    in code page 866, tags compared on their first 52 bytes). Bytes after
    the last area record stay where they are."""
    h = bytearray(data[:HEADER_SIZE])
    nodes_n, areas_n = struct.unpack_from("<HH", h, 6)
    area_bits = struct.unpack_from("<H", h, 4634)[0]
    ext_len = struct.unpack_from("<i", h, 4640)[0]
    pos = HEADER_SIZE + ext_len
    ext = data[HEADER_SIZE:pos]
    a = area_bits // 8
    nodes = []
    for _ in range(nodes_n):
        nodes.append((data[pos:pos + NODE_SIZE], bytearray(data[pos + NODE_SIZE:pos + NODE_SIZE + a])))
        pos += NODE_SIZE + a
    areas = [data[pos + i * AREA_SIZE:pos + (i + 1) * AREA_SIZE] for i in range(areas_n)]
    trailer = data[pos + areas_n * AREA_SIZE:]
    for tag in tags:
        key = upper866(text_field(tag if isinstance(tag, bytes) else tag.encode("cp866")))[:52]
        for i, rec in enumerate(areas):
            if upper866(text_field(rec[:52])) == key:
                k = struct.unpack_from("<H", rec, 54)[0]
                for _, bm in nodes:
                    if k < 8 * len(bm):
                        bm[k // 8] &= ~(0x80 >> (k % 8)) & 0xFF
                del areas[i]
                break
    struct.pack_into("<H", h, 8, len(areas))
    return bytes(h) + ext + b"".join(r + bytes(b) for r, b in nodes) + b"".join(areas) + trailer


def write_msg(path, frm, to, subject, orig, dest, body, kludges=(), date=b"07 Dec 26  19:05:08",
              attr=0x0101):
    """One stored message of a *.MSG folder. orig and dest are
    (zone, net, node, point); zones travel in INTL, points in FMPT/TOPT."""
    enc = lambda s: s if isinstance(s, bytes) else s.encode("cp866")
    hdr = put_field(enc(frm), 36) + put_field(enc(to), 36) + put_field(enc(subject), 72)
    hdr += put_field(date, 20)
    hdr += struct.pack("<HHHHHH", 0, dest[2], orig[2], 0, orig[1], dest[1])
    hdr += b"\0" * 8 + struct.pack("<HHH", 0, attr, 0)
    assert len(hdr) == 190
    text = b"\x01INTL %d:%d/%d %d:%d/%d\r" % (dest[0], dest[1], dest[2], orig[0], orig[1], orig[2])
    if orig[3]:
        text += b"\x01FMPT %d\r" % orig[3]
    if dest[3]:
        text += b"\x01TOPT %d\r" % dest[3]
    text += b"\x01MSGID: %d:%d/%d 12345678\r" % (orig[0], orig[1], orig[2])
    for k in kludges:
        text += b"\x01" + enc(k) + b"\r"
    for line in body:
        text += enc(line) + b"\r"
    with open(path, "wb") as f:
        f.write(hdr + text + b"\0")


def packet_bytes(subjects, area=b"LIVE.AREA"):
    """A type-2 packet from 2:5020/2 to 2:5020/1 holding one echomail
    message of the area per subject (bytes or text), each with a MSGID of
    its own."""
    out = bytearray(struct.pack("<13H8sHH20s", 2, 1, 2026, 11, 7, 19, 5, 8, 0, 2, 5020, 5020, 0,
                                b"", 2, 2, b""))
    for n, subject in enumerate(subjects):
        subject = subject if isinstance(subject, bytes) else subject.encode("cp866")
        text = (b"AREA:" + area + b"\r\x01MSGID: 2:5020/2 %08x\r" % (0x10000 + n) + b"Body of " + subject +
                b".\r--- live\r * Origin: A node (2:5020/2)\rSEEN-BY: 5020/1 2\r\x01PATH: 5020/2\r")
        out += struct.pack("<7H", 2, 2, 1, 5020, 5020, 0, 0) + b"07 Dec 26  19:05:08\0"
        out += b"All\0Ivan Petrov\0" + subject + b"\0" + text + b"\0"
    return bytes(out + b"\0\0")


def hold_lock(path):
    """Another program holding a base file's lock as tossers take it: a
    process with an fcntl lock (lockf) on byte 0 of path, which keeps it
    until release() (or its end). A lock of the test's own process would
    go with the first descriptor of the file it closes."""
    import subprocess
    import sys
    holder = subprocess.Popen(
        [sys.executable, "-c", "import fcntl, os, sys\n"
         "fd = os.open(sys.argv[1], os.O_RDWR)\n"
         "fcntl.lockf(fd, fcntl.LOCK_EX, 1, 0)\n"
         "print('held', flush=True)\n"
         "sys.stdin.read()\n", path],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    assert holder.stdout.readline() == b"held\n"

    def release():
        if holder.poll() is None:
            holder.stdin.close()
            holder.wait()
            holder.stdout.close()
    return release
