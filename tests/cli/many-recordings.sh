#!/usr/bin/env bash
# The README's recipe for a folder of recordings: GNU parallel runs one kestrane-analyse per movie, and every
# movie's maps come out as a run of its own would write them.
set -euo pipefail
analyse=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/recordings" "$work/maps" "$work/alone"

# Three short camera recordings of different pictures, as uncompressed AVI.
for n in 1 2 3; do
  ffmpeg -v error -f lavfi -i "testsrc=size=640x480:rate=10:duration=0.3,hue=h=$((n * 90))" \
    -c:v rawvideo -pix_fmt bgr24 "$work/recordings/cell$n.avi"
done

parallel --will-cite --jobs 2 --halt now,fail=1 "$analyse" {} "$work/maps/{/.}" ::: "$work"/recordings/*.avi

for movie in "$work"/recordings/*.avi; do
  name=$(basename "$movie" .avi)
  "$analyse" "$movie" "$work/alone/$name" 2>/dev/null
  count=$(find "$work/maps/$name" -name '*.pgm' | wc -l)
  [ "$count" -eq 9 ] || { echo "many-recordings: $name gave $count maps, not 9" >&2; exit 1; }
  diff -r "$work/alone/$name" "$work/maps/$name" || { echo "many-recordings: $name differs" >&2; exit 1; }
done
echo "many-recordings: 3 recordings analysed by parallel, every map as a run of its own writes it"
