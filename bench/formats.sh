#!/bin/sh
# Reading a JAM and a Squish base of 10,000 echomail messages of about 1 KB
# (bench/echo_packet.py, copied into each format by kelvutil copy): every
# message read through the library (ReadMessage for each number), beside
# the base's files read whole in the same program, and kelvutil list of
# the same base beside that read: as it is, less what any process costs
# (cat of an empty file: the read runs in a process already started), and
# less what a kelvutil process costs before it reads anything. CPU time
# throughout (user + system), the best of several runs: steadier than wall
# time on a busy machine.
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
# proc_ms CMD...: the CPU time of one run of the command, in ms: the least
# of 30 runs, each measured on its own (the rusage that wait4 gives for
# that child; no shell in between, and no fork of a large parent).
proc_ms() {
  python3 - "$@" <<'PY'
import os, sys
quiet = [(os.POSIX_SPAWN_OPEN, fd, os.devnull, os.O_WRONLY, 0) for fd in (1, 2)]
best = None
for _ in range(30):
    pid = os.posix_spawnp(sys.argv[1], sys.argv[1:], os.environ, file_actions=quiet)
    r = os.wait4(pid, 0)[2]
    t = (r.ru_utime + r.ru_stime) * 1000
    best = t if best is None or t < best else best
print("%.2f" % best)
PY
}
list_ms() { proc_ms "$build/tools/kelvutil" list "$1"; }
ratio() { echo "scale=2; $1 / $2" | bc; }
# What any process costs that reads a file (exec, the C library's start,
# exit): cat of an empty file. The library read runs inside a process that
# is already there, so this is the part of a list that the read does not
# pay and that no program could avoid. And what a kelvutil process costs
# before it reads a message: list of a base that is not there.
: >"$dir/empty"
process=$(proc_ms cat "$dir/empty")
start=$(list_ms "J$dir/none")
echo "a process (cat of an empty file): ${process} ms; kelvutil start (list of no base): ${start} ms"

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
    "less a process $(ratio "$(echo "$list - $process" | bc)" "$read")," \
    "less kelvutil's start $(ratio "$(echo "$list - $start" | bc)" "$read")"
done
