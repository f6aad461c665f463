# Sourced by the benches that run crashmail: crashmail_node DIR makes a
# crashmail node in DIR (2:5020/1, one link 2:5020/2): the folders in, out,
# tmp, jam, bad, netmail, and the settings file DIR/prefs with the JAM area
# BENCH.JAM (base DIR/jam/bench) exported to the link; the lines on
# standard input are appended to the settings.
crashmail_node() {
  mkdir -p "$1/in" "$1/out" "$1/tmp" "$1/jam" "$1/bad" "$1/netmail"
  cat >"$1/prefs" <<EOF
SYSOP "Bench Sysop"
LOGFILE "$1/log"
LOGLEVEL 1
DUPEFILE "$1/dupes" 200
DUPEMODE IGNORE
DEFAULTZONE 2
INBOUND "$1/in"
OUTBOUND "$1/out"
TEMPDIR "$1/tmp"
CREATEPKTDIR "$1/tmp"
PACKETDIR "$1/out"
STATSFILE "$1/stats"
AKA 2:5020/1
NODE 2:5020/2 "" ""
NETMAIL "NETMAIL" 2:5020/1 MSG "$1/netmail"
AREA "BAD" 2:5020/1 MSG "$1/bad"
AREA "BENCH.JAM" 2:5020/1 JAM "$1/jam/bench"
EXPORT 2:5020/2
EOF
  cat >>"$1/prefs"
}
