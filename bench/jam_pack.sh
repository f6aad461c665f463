#!/bin/sh
# kelvutil pack of a JAM base of 100,000 echomail messages (about 1 KB
# each), half of them deleted, beside the time to read the base's files
# (cat): the floor any pack stands on; and beside crashmail's own
# maintenance pack (crashmaint PACK) of the same base where that packs. The
# base is tossed by crashmail from one packet; every other message is then
# marked deleted in its header's attribute, as crashmaint MAINT marks them
# (its own MAINT also rewrites those headers with its 64-bit faults). Each
# pack runs on a fresh copy of that base; the best of three runs counts.
#   bench/jam_pack.sh [BUILD_DIR] [MESSAGES]   (default build/bench, 100000;
#                                               needs crashmail, crashmaint)
set -eu
build=$(cd "${1:-build/bench}" && pwd)
count=${2:-100000}
for p in crashmail crashmaint bc; do
  command -v $p >/dev/null || { echo "jam_pack.sh: $p is not installed" >&2; exit 1; }
done
node=$(mktemp -d /tmp/kelv-jam-pack-XXXXXX)
trap '[ -n "${KEEP:-}" ] || rm -rf "$node"' EXIT
. "$(dirname "$0")/crashmail_node.sh"
mkdir -p "$node/kept"
crashmail_node "$node" </dev/null

python3 "$(dirname "$0")/echo_packet.py" "$node/in/00000001.pkt" "$count" BENCH.JAM
crashmail SETTINGS "$node/prefs" TOSS >"$node/run.out" 2>&1 || { cat "$node/run.out" "$node/log" >&2; exit 1; }
python3 - "$node/jam/bench" <<'PY'
import struct, sys
base = sys.argv[1]
jdx = open(base + ".jdx", "rb").read()
with open(base + ".jhr", "r+b") as jhr:
    deleted = 0
    for k in range(0, len(jdx) // 8, 2):
        offset = struct.unpack_from("<I", jdx, k * 8 + 4)[0]
        jhr.seek(offset + 52)
        attr = struct.unpack("<I", jhr.read(4))[0]
        jhr.seek(offset + 52)
        jhr.write(struct.pack("<I", attr | 0x80000000))
        deleted += 1
    jhr.seek(12)
    active = struct.unpack("<I", jhr.read(4))[0]
    jhr.seek(12)
    jhr.write(struct.pack("<I", active - deleted))
PY
cp "$node"/jam/bench.* "$node/kept/"
"$build/tools/kelvutil" check "J$node/jam/bench" | tail -1

now() { date +%s.%N; }
best() { eval "b=\${$2:-}"; if [ -z "$b" ] || [ "$(echo "$1 < $b" | bc)" = 1 ]; then eval "$2=$1"; fi; }
fresh() { rm -f "$node"/jam/bench.*; cp "$node"/kept/bench.* "$node/jam/"; sync; }
ours="" cat=""
i=0
while [ $i -lt 3 ]; do
  fresh
  t0=$(now); cat "$node"/jam/bench.jhr "$node"/jam/bench.jdt "$node"/jam/bench.jdx >/dev/null; t1=$(now)
  best "$(echo "$t1 - $t0" | bc)" cat
  fresh
  t0=$(now)
  "$build/tools/kelvutil" pack "J$node/jam/bench" >"$node/pack.out" || { cat "$node/pack.out" >&2; exit 1; }
  t1=$(now)
  best "$(echo "$t1 - $t0" | bc)" ours
  i=$((i + 1))
done
cat "$node/pack.out"
echo "base: $count messages, half deleted, $(cat "$node"/kept/bench.j* | wc -c) bytes"
printf 'kelvutil pack      %8.3f s\n' "$ours"
printf 'cat of the files   %8.3f s   (pack / cat = %.1f)\n' "$cat" "$(echo "$ours / $cat" | bc -l)"
# crashmaint PACK is timed only when it packs: its 64-bit build fails on
# the first message it reads of any JAM base, its own crashmail's too,
# and leaves the base as it was; a time of that is no figure to compare.
fresh
t0=$(now)
crashmaint SETTINGS "$node/prefs" PACK VERBOSE >"$node/run.out" 2>&1 || { cat "$node/run.out" "$node/log" >&2; exit 1; }
t1=$(now)
if cmp -s "$node/jam/bench.jhr" "$node/kept/bench.jhr"; then
  echo "crashmaint PACK did not pack, so there is no comparison: $(grep -m1 -i 'fail' "$node/run.out" || tail -1 "$node/run.out")"
else
  theirs=$(echo "$t1 - $t0" | bc)
  printf 'crashmaint PACK    %8.3f s   (one run; ours x%.1f faster), %s bytes left\n' "$theirs" \
    "$(echo "$theirs / $ours" | bc -l)" "$(cat "$node"/jam/bench.j* | wc -c)"
fi
