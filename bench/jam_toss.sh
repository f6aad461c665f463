#!/bin/sh
# crashmail tossing one packet of 10,000 echomail messages (about 1 KB each)
# into a JAM area, beside kelvutil reading every message of the base it
# made (kelvutil list: open, Exists and ReadMessage for each, one line out)
# and kelvutil copy of the same packet into a new JAM base, a new Squish
# base and a new *.MSG folder (each message written, read back and
# compared with what went in), the last beside crashmail tossing the same
# messages into a *.MSG area.
#   bench/jam_toss.sh [BUILD_DIR]     (default build/bench; needs crashmail)
set -eu
build=$(cd "${1:-build/bench}" && pwd)
command -v crashmail >/dev/null || { echo "jam_toss.sh: crashmail is not installed" >&2; exit 1; }
node=$(mktemp -d /tmp/kelv-jam-toss-XXXXXX)
trap 'rm -rf "$node"' EXIT
. "$(dirname "$0")/crashmail_node.sh"
mkdir -p "$node/packet"
crashmail_node "$node" <<EOF
AREA "BENCH.MSG" 2:5020/1 MSG "$node/msg"
EXPORT 2:5020/2
EOF

# One type-2 packet from 2:5020/2 to 2:5020/1 holding the messages.
python3 "$(dirname "$0")/echo_packet.py" "$node/packet/00000001.pkt" 10000 BENCH.JAM
# The same messages for a *.MSG area: crashmail beside copy into *.MSG.
python3 "$(dirname "$0")/echo_packet.py" "$node/packet/00000002.pkt" 10000 BENCH.MSG

runs=3
now() { date +%s.%N; }
# faster T VAR: whether T is below the best time in VAR so far (or none).
faster() { eval "b=\${$2:-}"; [ -z "$b" ] || [ "$(echo "$1 < $b" | bc)" = 1 ]; }
toss_best=""
list_best=""
jam_best=""
squish_best=""
msg_best=""
tossmsg_best=""
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
  faster "$toss" toss_best && toss_best=$toss
  faster "$list" list_best && list_best=$list
  rm -rf "$node/msg" "$node/dupes"
  mkdir "$node/msg"
  cp "$node/packet/00000002.pkt" "$node/in/"
  sync
  t0=$(now)
  crashmail SETTINGS "$node/prefs" TOSS >"$node/toss.out" 2>&1 || { cat "$node/toss.out" "$node/log" >&2; exit 1; }
  t1=$(now)
  t=$(echo "$t1 - $t0" | bc)
  faster "$t" tossmsg_best && tossmsg_best=$t
  for into in jam squish msg; do
    rm -rf "$node/copy"
    mkdir "$node/copy"
    case $into in jam) dst="J$node/copy/bench" ;; squish) dst="S$node/copy/bench" ;; msg) dst="F$node/copy/bench" ;; esac
    sync
    t0=$(now)
    "$build/tools/kelvutil" copy "P$node/packet/00000001.pkt" "$dst" >"$node/copy.txt"
    t1=$(now)
    grep -q "^copied 10000 of 10000 messages$" "$node/copy.txt" || { tail -3 "$node/copy.txt" >&2; exit 1; }
    t=$(echo "$t1 - $t0" | bc)
    faster "$t" ${into}_best && eval "${into}_best=\$t"
  done
  i=$((i + 1))
done
echo "messages in the base:          $(wc -l <"$node/list.txt") (jhr $(wc -c <"$node/jam/bench.jhr") bytes, jdt $(wc -c <"$node/jam/bench.jdt") bytes)"
echo "crashmail toss into JAM:       ${toss_best}s"
echo "kelvutil list of the base:     ${list_best}s"
echo "ratio kelvutil / crashmail:    $(echo "scale=3; $list_best / $toss_best" | bc)"
echo "kelvutil copy packet -> JAM:   ${jam_best}s"
echo "ratio copy JAM / crashmail:    $(echo "scale=3; $jam_best / $toss_best" | bc)"
echo "kelvutil copy packet -> Squish: ${squish_best}s"
echo "ratio copy Squish / crashmail: $(echo "scale=3; $squish_best / $toss_best" | bc)"
echo "kelvutil copy packet -> *.MSG:  ${msg_best}s"
echo "crashmail toss into *.MSG:     ${tossmsg_best}s ($(ls "$node/msg" | wc -l) files)"
echo "ratio copy *.MSG / crashmail *.MSG: $(echo "scale=3; $msg_best / $tossmsg_best" | bc)"
