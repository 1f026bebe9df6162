#!/usr/bin/env bash
# Makes the demo diskette: a 1.44 MB FAT12 image with a short README, a text
# file and a compressed (binary) copy of it.
#   make-demo-image.sh MKFS_FAT MCOPY OUT.img
set -eu
mkfs="$1"; mcopy="$2"; out="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cat > "$work/README.TXT" <<'TEXT'
Nerova remote console demo diskette

This diskette lives on the PC as a file (demo.img). The simulated board
reads its directory through the console's remote floppy service and shows
it in the "Drive A:" box. Type in the console window: the board echoes
each key; Ctrl+Alt+Del reboots the board.
TEXT
sed -i 's/$/\r/' "$work/README.TXT"
seq 1 20000 | sed 's/$/\r/' > "$work/NUMBERS.TXT"
gzip -n -9 -c "$work/NUMBERS.TXT" > "$work/NUMBERS.GZ"
head -c 300000 /dev/zero | tr '\000' '\252' > "$work/FILL.BIN"

rm -f "$out.tmp"
"$mkfs" -C -n NEROVA-DEMO -i 20240101 "$out.tmp" 1440 > /dev/null
"$mcopy" -i "$out.tmp" "$work/README.TXT" "$work/NUMBERS.TXT" "$work/NUMBERS.GZ" "$work/FILL.BIN" ::/
mv "$out.tmp" "$out"
