#!/bin/sh
# Whole-program benchmark: kelvane on a node with 20,000 netmail messages (a
# few of them requests) and a 5,000-area configuration, beside the time it
# takes to read all those files whole; kelvutil plan on the same node
# beside kelvane; kelvutil copy of the netmail beside cp -r.
#   bench/whole_program.sh [BUILD_DIR]     (default build/native)
set -eu
build=$(cd "${1:-build/native}" && pwd)
node=$(mktemp -d /tmp/kelv-bench-XXXXXX)
trap 'rm -rf "$node"' EXIT
"$build/tools/nodegen" "$node" --netmail 20000 --requests 5 --areas 5000
runs=5

now() { date +%s.%N; }
best_of() {  # best_of CMD...: the fastest of $runs runs, in seconds
  best=""
  i=0
  while [ $i -lt $runs ]; do
    cp "$node/setup.cfg.orig" "$node/setup.cfg"
    sync
    t0=$(now)
    "$@" >/dev/null 2>&1 || true
    t1=$(now)
    t=$(echo "$t1 - $t0" | bc)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc)" = 1 ]; then best=$t; fi
    i=$((i + 1))
  done
  echo "$best"
}

cd "$node"
read_all=$(best_of sh -c 'cat netmail/* setup.cfg kelv.ctl')
kelv=$(best_of "$build/app/kelvane")
# kelvutil plan: the same walk, changing nothing (it also prints a line
# for every message).
plan=$(best_of "$build/tools/kelvutil" plan)
# kelvutil copy of the netmail into a new *.MSG folder, every copy read
# back and compared, beside cp making the same folder.
copy=$(best_of sh -c "rm -rf copy && '$build/tools/kelvutil' copy netmail copy")
cp_r=$(best_of sh -c 'rm -rf copy && cp -r netmail copy')
echo "files: $(ls netmail | wc -l) netmail messages, $(wc -c < setup.cfg) bytes of configuration"
echo "read every file whole (cat): ${read_all}s"
echo "kelvane run:                 ${kelv}s"
echo "ratio kelvane / cat:         $(echo "scale=2; $kelv / $read_all" | bc)"
echo "kelvutil plan:               ${plan}s"
echo "ratio plan / kelvane:        $(echo "scale=2; $plan / $kelv" | bc)"
echo "kelvutil copy netmail:       ${copy}s"
echo "cp -r netmail:               ${cp_r}s"
echo "ratio copy / cp -r:          $(echo "scale=2; $copy / $cp_r" | bc)"
