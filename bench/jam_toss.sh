#!/bin/sh
# crashmail tossing one packet of 10,000 echomail messages (about 1 KB each)
# into a JAM area, beside kelvutil reading every message of the base it
# made (kelvutil list: open, Exists and ReadMessage for each, one line out).
#   bench/jam_toss.sh [BUILD_DIR]     (default build/bench; needs crashmail)
set -eu
build=$(cd "${1:-build/bench}" && pwd)
command -v crashmail >/dev/null || { echo "jam_toss.sh: crashmail is not installed" >&2; exit 1; }
node=$(mktemp -d /tmp/kelv-jam-toss-XXXXXX)
trap 'rm -rf "$node"' EXIT
mkdir -p "$node/in" "$node/out" "$node/tmp" "$node/jam" "$node/bad" "$node/netmail" "$node/packet"
cat >"$node/prefs" <<EOF
SYSOP "Bench Sysop"
LOGFILE "$node/log"
LOGLEVEL 1
DUPEFILE "$node/dupes" 200
DUPEMODE IGNORE
DEFAULTZONE 2
INBOUND "$node/in"
OUTBOUND "$node/out"
TEMPDIR "$node/tmp"
CREATEPKTDIR "$node/tmp"
PACKETDIR "$node/out"
STATSFILE "$node/stats"
AKA 2:5020/1
NODE 2:5020/2 "" ""
NETMAIL "NETMAIL" 2:5020/1 MSG "$node/netmail"
AREA "BAD" 2:5020/1 MSG "$node/bad"
AREA "BENCH.JAM" 2:5020/1 JAM "$node/jam/bench"
EXPORT 2:5020/2
EOF

# One type-2 packet from 2:5020/2 to 2:5020/1 holding the messages.
python3 - "$node/packet/00000001.pkt" <<'EOF'
import struct, sys
out = bytearray(struct.pack("<13H8sHH20s", 2, 1, 2026, 11, 7, 19, 5, 8, 0, 2, 5020, 5020, 0,
                            b"", 2, 2, b""))
body = b"".join(b"Line %d of the message body, some words.\r" % l for l in range(16))
for n in range(1, 10001):
    text = (b"AREA:BENCH.JAM\r\x01MSGID: 2:5020/2 %08x\r\x01PID: bench 1\r\x01CHRS: CP866 2\r" % n + body +
            b"--- bench\r * Origin: A point somewhere in the net (2:5020/2)\rSEEN-BY: 5020/1 2\r\x01PATH: 5020/2\r")
    out += struct.pack("<7H", 2, 2, 1, 5020, 5020, 0, 0) + b"07 Dec 26  19:05:08\0"
    out += b"All\0Ivan Petrov\0Re: a subject of some length %d\0" % n + text + b"\0"
out += b"\0\0"
open(sys.argv[1], "wb").write(out)
EOF

runs=3
now() { date +%s.%N; }
best=""
toss_best=""
list_best=""
i=0
while [ $i -lt $runs ]; do
  rm -f "$node"/jam/* "$node/dupes"
  cp "$node/packet/00000001.pkt" "$node/in/"
  sync
  t0=$(now)
  crashmail SETTINGS "$node/prefs" TOSS >"$node/toss.out" 2>&1 || { cat "$node/toss.out" "$node/log" >&2; exit 1; }
  t1=$(now)
  "$build/tools/kelvutil" list "J$node/jam/bench" >"$node/list.txt"
  t2=$(now)
  toss=$(echo "$t1 - $t0" | bc)
  list=$(echo "$t2 - $t1" | bc)
  if [ -z "$toss_best" ] || [ "$(echo "$toss < $toss_best" | bc)" = 1 ]; then toss_best=$toss; fi
  if [ -z "$list_best" ] || [ "$(echo "$list < $list_best" | bc)" = 1 ]; then list_best=$list; fi
  i=$((i + 1))
done
echo "messages in the base:          $(wc -l <"$node/list.txt") (jhr $(wc -c <"$node/jam/bench.jhr") bytes, jdt $(wc -c <"$node/jam/bench.jdt") bytes)"
echo "crashmail toss into JAM:       ${toss_best}s"
echo "kelvutil list of the base:     ${list_best}s"
echo "ratio kelvutil / crashmail:    $(echo "scale=3; $list_best / $toss_best" | bc)"
