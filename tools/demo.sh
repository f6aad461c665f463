#!/bin/sh
# The demo: a fresh node, one request, one run of kelvane.
#   tools/demo.sh BUILD_DIR NODE_DIR
set -eu
build=$(cd "$1" && pwd)
node=$2
rm -rf "$node"
"$build/tools/nodegen" "$node" --netmail 5 --requests 1
echo "== the demo node ($node):"
(cd "$node" && find . -type f | sort | sed 's/^/   /')
echo
echo "== the request in the netmail folder:"
"$build/tools/kelvutil" show "F$node/netmail" 3 | sed 's/^/   /'
echo
echo "== what kelvane would do (kelvutil plan, which changes nothing):"
(cd "$node" && "$build/tools/kelvutil" plan) | sed 's/^/   /'
echo
echo "== running kelvane in $node:"
(cd "$node" && "$build/app/kelvane") || echo "(kelvane ended with exit code $?)"
echo
echo "== what changed in the configuration:"
"$build/tools/kelvutil" fecfg "$node/setup.cfg.orig" > "$node/before.txt"
"$build/tools/kelvutil" fecfg "$node/setup.cfg" > "$node/after.txt"
diff "$node/before.txt" "$node/after.txt" | sed 's/^/   /' || true
echo
echo "== the message bases now:"
(cd "$node/bases" && find . -type f | sort | sed 's/^/   /')
echo
echo "Look around in $node; run kelvane there again to see the areas reported as not found."
