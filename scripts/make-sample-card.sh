#!/usr/bin/env bash
# Writes the sample files onto a fresh FAT32 card image, then deletes them, as a camera does
# when a card is cleared: the directory entries are gone, the data stays on the card.
# Usage: make-sample-card.sh CONTENT_DIR CLIP.mp4 OUTPUT.img
set -euo pipefail
content=$1 clip=$2 out=$3
PATH=$PATH:/usr/sbin:/sbin
tmp="$out.tmp"
rm -f "$tmp"
mkfs.fat -C -F 32 -s 1 -n LUMASAMPLE "$tmp" 65536 >/dev/null
export MTOOLS_SKIP_CHECK=1
mmd -i "$tmp" ::/DCIM ::/DCIM/100LUMA ::/DOCS
for f in IMG_0001.JPG IMG_0002.JPG DIAGRAM.PNG IMG_0003.JPG; do
  mcopy -i "$tmp" "$content/$f" ::/DCIM/100LUMA/
done
mcopy -i "$tmp" "$clip" ::/DCIM/100LUMA/MVI_0004.MP4
mcopy -i "$tmp" "$content/NOTES.PDF" "$content/ROUTE.ZIP" ::/DOCS/
mdel -i "$tmp" ::/DCIM/100LUMA/* ::/DOCS/*
mv "$tmp" "$out"
