#!/bin/sh
# Reading a JAM and a Squish base of 10,000 echomail messages of about 1 KB
# (bench/echo_packet.py, copied into each format by kelvutil copy): every
# message read through the library (ReadMessage for each number), beside
# the base's files read whole in the same program, and kelvutil list of
# the same base beside that read, as it is and less what a kelvutil process
# costs before it reads anything. CPU time throughout (user + system), the
# best of several runs: steadier than wall time on a busy machine.
#   bench/formats.sh [BUILD_DIR]     (default build/native, built with
#                                     -DKELVANE_BENCH=ON)
set -eu
build=$(cd "${1:-build/native}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d /tmp/kelv-formats-XXXXXX)
trap 'rm -rf "$dir"' EXIT
python3 "$here/echo_packet.py" "$dir/in.pkt" 10000 BENCH.AREA
# (copy tells on its exit code that JAM and Squish keep no area tag)
"$build/tools/kelvutil" copy "P$dir/in.pkt" "J$dir/jam" >/dev/null || true
"$build/tools/kelvutil" copy "P$dir/in.pkt" "S$dir/squish" >/dev/null || true

# cpu_ms BENCH FILTER: the CPU time of one pass of the benchmark, in ms
# (the best of 5 repetitions).
cpu_ms() {
  "$build/bench/$1" --benchmark_filter="$2" --benchmark_repetitions=5 --benchmark_format=csv 2>/dev/null |
    awk -F, -v f="$2" '$1 ~ "^\"" f && $1 !~ /_(mean|median|stddev|cv)"$/ && $5 == "ms" {
        if (best == "" || $4 < best) best = $4 } END { printf "%.2f", best }'
}
# list_ms BASEID: the CPU time of one kelvutil list of the base, in ms: 20
# runs in one loop (a process start is a fraction of one), the best of 3.
list_ms() {
  best=""
  for r in 1 2 3; do
    /usr/bin/time -f "%U %S" -o "$dir/.time" sh -c \
      "i=0; while [ \$i -lt 20 ]; do '$build/tools/kelvutil' list '$1' >/dev/null; i=\$((i + 1)); done"
    t=$(awk '{ printf "%.2f", ($1 + $2) * 1000 / 20 }' "$dir/.time")
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc)" = 1 ]; then best=$t; fi
  done
  echo "$best"
}
ratio() { echo "scale=2; $1 / $2" | bc; }
# What a kelvutil process costs before it reads a message: list of a base
# that is not there.
start=$(list_ms "J$dir/none")
echo "kelvutil start (list of no base): ${start} ms"

for fmt in jam squish; do
  if [ $fmt = jam ]; then
    read=$(KELVANE_BENCH_BASE="$dir/jam" cpu_ms jam_bench BM_JamRead10000)
    floor=$(KELVANE_BENCH_BASE="$dir/jam" cpu_ms jam_bench BM_JamFilesReadWhole)
    list=$(list_ms "J$dir/jam")
  else
    read=$(KELVANE_BENCH_BASE="$dir/squish" cpu_ms squish_bench BM_SquishReadAll)
    floor=$(KELVANE_BENCH_BASE="$dir/squish" cpu_ms squish_bench BM_SquishFilesReadWhole)
    list=$(list_ms "S$dir/squish")
  fi
  echo "$fmt: read every message ${read} ms, files read whole ${floor} ms, ratio $(ratio "$read" "$floor");" \
    "kelvutil list ${list} ms, ratio to the read $(ratio "$list" "$read")," \
    "less the start $(ratio "$(echo "$list - $start" | bc)" "$read")"
done
