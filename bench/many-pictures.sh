#!/bin/sh
# Shows of many photographs: makes PICTURES (default 300) generated 6000 x 4000 JPEG pictures
# once (in bench-data/pictures, kept for later runs), then times and measures the peak memory
# of each step in one run:
#   pictomove new, embedding the pictures and with --link;
#   pictomove frame in the middle of the show;
#   pictomove render to raw 720p frames at FPS frames a second (default 1, to keep it short).
# Goals: new's peak within the picture cache's budget plus 300 MB whatever the number of
# pictures, and at most 0.25 s a picture on 2 cores.
set -eu
cd "$(dirname "$0")/.."
PICTURES="${PICTURES:-300}"
FPS="${FPS:-1}"
PICTOMOVE="${BUILD_DIR:-build}/pictomove"
DATA="${BENCH_DATA:-bench-data}"
mkdir -p "$DATA/pictures"

# Four drawn sources, each made distinct per picture by a hue turn, so that the decoder sees
# photograph-sized files of varied detail.
i=1
while [ "$i" -le "$PICTURES" ]; do
  out="$DATA/pictures/$(printf %04d "$i").jpg"
  if [ ! -f "$out" ]; then
    case $((i % 4)) in
      0) source="mandelbrot=size=6000x4000:start_scale=2.5:maxiter=80" ;;
      1) source="testsrc2=size=6000x4000" ;;
      2) source="gradients=size=6000x4000:n=6:seed=$i" ;;
      *) source="cellauto=size=6000x4000:rule=$((i % 200 + 18))" ;;
    esac
    ffmpeg -loglevel error -y -f lavfi -i "$source" -frames:v 1 -vf "hue=h=$((i * 37 % 360))" \
      -q:v 3 "$out"
  fi
  i=$((i + 1))
done
echo "many-pictures: $PICTURES pictures of 6000x4000 in $DATA/pictures ($(du -sh "$DATA/pictures" | cut -f1))"

# label, command...: prints the step's time, peak memory and the time per picture.
measure() {
  label="$1"
  shift
  /usr/bin/time -f "%e %M" -o "$DATA/time.txt" "$@" >/dev/null 2>"$DATA/step.log" || {
    cat "$DATA/step.log"
    exit 1
  }
  read -r seconds kilobytes <"$DATA/time.txt"
  awk -v l="$label" -v s="$seconds" -v k="$kilobytes" -v n="$PICTURES" 'BEGIN {
    printf "many-pictures: %-22s %8.1f s  %6.2f s a picture  peak %6.0f MB\n", l, s, s / n, k / 1024
  }'
}

measure "new (embedded)" "$PICTOMOVE" new -o "$DATA/show.mzp" "$DATA/pictures"
measure "new --link" "$PICTOMOVE" new -o "$DATA/linked.mzp" --link "$DATA/pictures"
ls -l "$DATA/show.mzp" "$DATA/linked.mzp" | awk '{ printf "many-pictures: %s is %.0f MB\n", $9, $5 / 1048576 }'
middle=$(awk -v n="$PICTURES" 'BEGIN { print n * 4 / 2 }')
measure "frame at ${middle} s" "$PICTOMOVE" frame "$DATA/show.mzp" --time "$middle" \
  -o "$DATA/middle.png"
measure "render raw 720p" "$PICTOMOVE" render "$DATA/show.mzp" -o "$DATA/show.raw" \
  --size 1280x720 --fps "$FPS"
rm -f "$DATA/show.raw"
