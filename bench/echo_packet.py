#!/usr/bin/env python3
# One type-2 packet from 2:5020/2 to 2:5020/1 holding N echomail messages
# (about 1 KB each) for the area AREA, as the toss and copy benchmarks use.
#   bench/echo_packet.py FILE [N [AREA]]
import struct
import sys

path = sys.argv[1]
count = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
area = (sys.argv[3] if len(sys.argv) > 3 else "BENCH.JAM").encode()
out = bytearray(struct.pack("<13H8sHH20s", 2, 1, 2026, 11, 7, 19, 5, 8, 0, 2, 5020, 5020, 0,
                            b"", 2, 2, b""))
body = b"".join(b"Line %d of the message body, some words.\r" % l for l in range(16))
for n in range(1, count + 1):
    text = (b"AREA:" + area + b"\r\x01MSGID: 2:5020/2 %08x\r\x01PID: bench 1\r\x01CHRS: CP866 2\r" % n + body +
            b"--- bench\r * Origin: A point somewhere in the net (2:5020/2)\rSEEN-BY: 5020/1 2\r\x01PATH: 5020/2\r")
    out += struct.pack("<7H", 2, 2, 1, 5020, 5020, 0, 0) + b"07 Dec 26  19:05:08\0"
    out += b"All\0Ivan Petrov\0Re: a subject of some length %d\0" % n + text + b"\0"
out += b"\0\0"
open(path, "wb").write(out)
