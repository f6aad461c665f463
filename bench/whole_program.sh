#!/bin/sh
# Whole-program benchmark: kelvane on a node with 20,000 netmail messages (a
# few of them requests) and a 5,000-area configuration, beside the time it
# takes to read all those files whole; kelvutil plan on the same node
# beside kelvane; kelvutil copy of the netmail beside cp -r. Each figure is
# the best of 5 runs, wall clock and CPU time (user + system) apart: on a
# busy machine the CPU figure is the steadier one. With strace installed,
# the system calls kelvane makes per netmail message follow.
#   bench/whole_program.sh [BUILD_DIR]     (default build/native)
set -eu
build=$(cd "${1:-build/native}" && pwd)
node=$(mktemp -d /tmp/kelv-bench-XXXXXX)
trap 'rm -rf "$node"' EXIT
"$build/tools/nodegen" "$node" --netmail 20000 --requests 5 --areas 5000
runs=5

best_of() {  # best_of CMD...: "<wall> <cpu>", each the best of $runs runs, in seconds
  best=""
  cpu=""
  i=0
  while [ $i -lt $runs ]; do
    cp "$node/setup.cfg.orig" "$node/setup.cfg"
    sync
    /usr/bin/time -f "%e %U %S" -o "$node/.time" "$@" >/dev/null 2>&1 || true
    w=$(awk '{ printf "%.3f", $1 }' "$node/.time")
    c=$(awk '{ printf "%.3f", $2 + $3 }' "$node/.time")
    if [ -z "$best" ] || [ "$(echo "$w < $best" | bc)" = 1 ]; then best=$w; fi
    if [ -z "$cpu" ] || [ "$(echo "$c < $cpu" | bc)" = 1 ]; then cpu=$c; fi
    i=$((i + 1))
  done
  echo "$best $cpu"
}
ratio() { echo "scale=2; $1 / $2" | bc; }
wall() { echo "${1% *}"; }
cpu() { echo "${1#* }"; }

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
messages=$(ls netmail | wc -l)
echo "files: $messages netmail messages, $(wc -c < setup.cfg) bytes of configuration"
echo "                             wall       cpu"
echo "read every file whole (cat): $(wall "$read_all")s    $(cpu "$read_all")s"
echo "kelvane run:                 $(wall "$kelv")s    $(cpu "$kelv")s"
echo "ratio kelvane / cat:         $(ratio "$(wall "$kelv")" "$(wall "$read_all")")      $(ratio "$(cpu "$kelv")" "$(cpu "$read_all")")"
echo "kelvutil plan:               $(wall "$plan")s    $(cpu "$plan")s"
echo "ratio plan / kelvane:        $(ratio "$(wall "$plan")" "$(wall "$kelv")")      $(ratio "$(cpu "$plan")" "$(cpu "$kelv")")"
echo "kelvutil copy netmail:       $(wall "$copy")s    $(cpu "$copy")s"
echo "cp -r netmail:               $(wall "$cp_r")s    $(cpu "$cp_r")s"
echo "ratio copy / cp -r:          $(ratio "$(wall "$copy")" "$(wall "$cp_r")")      $(ratio "$(cpu "$copy")" "$(cpu "$cp_r")")"

if command -v strace >/dev/null; then
  cp setup.cfg.orig setup.cfg
  strace -c -f -o "$node/.strace" "$build/app/kelvane" >/dev/null 2>&1 || true
  echo "system calls of kelvane per netmail message (strace -c -f, $messages messages):"
  awk -v n="$messages" '$1 ~ /^[0-9.]+$/ && NF >= 5 && $NF != "total" && $4 / n >= 0.01 {
      printf "  %-12s %8.2f\n", $NF, $4 / n }' "$node/.strace"
fi
