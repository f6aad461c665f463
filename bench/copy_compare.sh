#!/bin/sh
# kelvutil copy of one packet of 10,000 echomail messages into a new JAM and
# a new Squish base, by two builds in turn (say, before and after a change),
# interleaved run by run so that a busy machine weighs on both alike; the
# best time of each and the ratio second / first.
#   bench/copy_compare.sh BUILD_A BUILD_B [RUNS]     (default 5 runs)
set -eu
a=$(cd "$1" && pwd)
b=$(cd "$2" && pwd)
runs=${3:-5}
node=$(mktemp -d /tmp/kelv-copy-compare-XXXXXX)
trap 'rm -rf "$node"' EXIT
python3 "$(dirname "$0")/echo_packet.py" "$node/in.pkt" 10000 BENCH.AREA

now() { date +%s.%N; }
# faster T VAR: whether T is below the best time in VAR so far (or none).
faster() { eval "v=\${$2:-}"; [ -z "$v" ] || [ "$(echo "$1 < $v" | bc)" = 1 ]; }
i=0
while [ $i -lt $runs ]; do
  for into in J S; do
    for side in a b; do
      eval "build=\$$side"
      rm -rf "$node/copy"
      mkdir "$node/copy"
      sync
      t0=$(now)
      "$build/tools/kelvutil" copy "P$node/in.pkt" "$into$node/copy/bench" >"$node/copy.txt"
      t1=$(now)
      grep -q "^copied 10000 of 10000 messages$" "$node/copy.txt" || { tail -3 "$node/copy.txt" >&2; exit 1; }
      t=$(echo "$t1 - $t0" | bc)
      faster "$t" "best_${into}_$side" && eval "best_${into}_$side=\$t"
    done
  done
  i=$((i + 1))
done
echo "copy into JAM:    $a ${best_J_a}s, $b ${best_J_b}s, ratio $(echo "scale=3; $best_J_b / $best_J_a" | bc)"
echo "copy into Squish: $a ${best_S_a}s, $b ${best_S_b}s, ratio $(echo "scale=3; $best_S_b / $best_S_a" | bc)"
