#!/bin/sh
# The demo: a fresh node, one request, one run of kelvane. Each command it
# runs is shown first ("$ ..."), written so that it can be typed again as
# it stands in the directory the demo was started from.
#   tools/demo.sh BUILD_DIR NODE_DIR
set -eu
build=$1
node=$2
kelvutil=$build/tools/kelvutil
# kelvane runs inside the node, where kelv.ctl is: its path from there.
case "$build" in
  /*) kelvane=$build/app/kelvane kelvutil_in=$kelvutil ;;
  *) kelvane=$(realpath -m --relative-to="$node" "$build/app/kelvane")
     kelvutil_in=$(realpath -m --relative-to="$node" "$kelvutil") ;;
esac

run() {  # run COMMAND...: show it, run it, indent its output; its exit code
  echo "\$ $*"
  st=0
  out=$("$@" 2>&1) || st=$?
  [ -z "$out" ] || printf '%s\n' "$out" | sed 's/^/   /'
  return $st
}

rm -rf "$node"
echo "== a fresh demo node: FastEcho's configuration, netmail with a request,"
echo "   message bases of three types, kelv.ctl:"
run "$build/tools/nodegen" "$node" --netmail 5 --requests 1
run ls -R "$node"
echo
echo "== the request in the netmail folder:"
run "$kelvutil" show "F$node/netmail" 3
echo
echo "== what kelvane would do (kelvutil plan reads the same files and changes nothing):"
echo "\$ cd $node && $kelvutil_in plan"
(cd "$node" && "$kelvutil_in" plan) | sed 's/^/   /'
echo
echo "== running kelvane in the node:"
echo "\$ cd $node && $kelvane"
rc=0
(cd "$node" && "$kelvane") || rc=$?
echo "(exit code $rc)"
echo
echo "== what changed in the configuration:"
echo "\$ $kelvutil fecfg $node/setup.cfg.orig > $node/before.txt"
"$kelvutil" fecfg "$node/setup.cfg.orig" > "$node/before.txt"
echo "\$ $kelvutil fecfg $node/setup.cfg > $node/after.txt"
"$kelvutil" fecfg "$node/setup.cfg" > "$node/after.txt"
run diff "$node/before.txt" "$node/after.txt" || true
echo
echo "== the message bases now:"
run ls -R "$node/bases"
echo
echo "Look around in $node. Run kelvane there again (cd $node && $kelvane)"
echo "to see the areas reported as not found; $kelvutil --help"
echo "lists what else kelvutil shows."
