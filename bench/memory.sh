#!/bin/sh
# Memory benchmark: the peak resident size of kelvane, kelvutil plan, list
# and show beside the size of the largest message they meet. A node of
# nodegen gets one more netmail message: a request of SIZE MiB (default
# 1024) whose text is one kind of filler (default: both, one after the
# other):
#   line     one line of SIZE MiB (every line past 255 characters is cut)
#   request  request lines "-NO.SUCH.AREA.nnnnnnn", each naming an area the
#            configuration does not have (kelvane prints a line for each)
# kelvutil list and show run on the netmail folder and on a packet that
# holds the same message.
#   bench/memory.sh [BUILD_DIR] [SIZE_MIB] [line|request]
set -eu
build=$(cd "${1:-build/native}" && pwd)
mib=${2:-1024}
kinds=${3:-line request}
node=$(mktemp -d /tmp/kelv-memory-XXXXXX)
trap 'rm -rf "$node"' EXIT
"$build/tools/nodegen" "$node" --netmail 20 --requests 2 --areas 50 >/dev/null

# peak CMD...: "<peak resident KiB> <user+sys seconds> <wall seconds>"
peak() {
  /usr/bin/time -f "%M %U %S %e" -o "$node/time" "$@" >/dev/null 2>&1 || true
  awk '{ printf "%d %.2f %.2f\n", $1, $2 + $3, $4 }' "$node/time"
}
mb() { echo "scale=1; $1 / 1024" | bc; }

for kind in $kinds; do
  # The big request: the header and kludges of one of nodegen's requests,
  # then the filler, then the request's own text and its closing NUL.
  python3 - "$node" "$mib" "$kind" <<'EOF'
import glob, os, sys
node, mib, kind = sys.argv[1], int(sys.argv[2]), sys.argv[3]
req = None
for name in sorted(glob.glob(os.path.join(node, "netmail", "*.msg"))):
    data = open(name, "rb").read()
    if data[36:41] == b"Robot" and data[72:78] == b"remove":
        req = data
        break
head, text = req[:190], req[190:].rstrip(b"\0")
body = text.find(b"Hello")
size = mib << 20
with open(os.path.join(node, "netmail", "9999.msg"), "wb") as out:
    out.write(head + text[:body])
    block = 1 << 20
    if kind == "line":
        chunk = b"x" * block
        for _ in range(size // block):
            out.write(chunk)
        out.write(b"\r")
    else:
        lines = b"".join(b"-NO.SUCH.AREA.%07d\r" % i for i in range(block // 22))
        for _ in range(size // len(lines)):
            out.write(lines)
    out.write(text[body:] + b"\0")
# The same message in a type-2 packet: the packet header (type 2 at offset
# 18), the packed message (type word, nodes and nets, attribute, cost, the
# date text and the three names, each ended by a NUL), its text and NUL,
# and the two closing zeros.
src = os.path.join(node, "netmail", "9999.msg")
with open(src, "rb") as msg, open(os.path.join(node, "big.pkt"), "wb") as out:
    h = msg.read(190)
    out.write(bytearray(18) + b"\2\0" + bytearray(38))
    out.write(b"\2\0" + h[168:170] + h[166:168] + h[172:174] + h[174:176] + h[186:188] + b"\0\0")
    out.write(h[144:164])
    for f in (h[36:72], h[0:36], h[72:144]):
        out.write(f.split(b"\0")[0] + b"\0")
    while True:
        b = msg.read(1 << 20)
        if not b:
            break
        out.write(b)
    out.write(b"\0\0")
EOF
  big=$(stat -c %s "$node/netmail/9999.msg")
  echo "largest message: $(mb $((big / 1024))) MiB ($kind)"
  cd "$node"
  for run in "kelvane:$build/app/kelvane" "kelvutil plan:$build/tools/kelvutil plan" \
             "kelvutil list netmail:$build/tools/kelvutil list Fnetmail" \
             "kelvutil show 9999:$build/tools/kelvutil show Fnetmail 9999" \
             "kelvutil list packet:$build/tools/kelvutil list Pbig.pkt"; do
    name=${run%%:*}
    cmd=${run#*:}
    cp setup.cfg.orig setup.cfg
    set -- $(peak $cmd)
    printf '%-24s peak %8s MiB  cpu %7ss  wall %7ss  (peak / message %s)\n' "$name:" "$(mb "$1")" "$2" "$3" \
      "$(echo "scale=3; $1 * 1024 / $big" | bc)"
  done
  t0=$(date +%s.%N)
  cat netmail/9999.msg >/dev/null
  t1=$(date +%s.%N)
  echo "cat of the message:      wall $(echo "$t1 - $t0" | bc)s"
  cd - >/dev/null
  rm -f "$node/netmail/9999.msg" "$node/big.pkt"
done
