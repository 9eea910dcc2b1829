#!/bin/sh
# Is rendering the bottleneck of an export? A project of 6000x4000 pictures (LENGTH seconds,
# default 60, at 1920x1080 and 30 frames per second) is exported to MP4 (H.264 "veryfast") and
# rendered to raw frames without encoding; the very same frames, written once as raw YUV by our
# exporter, are encoded by the ffmpeg command line with the same settings. All in one run; prints frames per
# second of each and the export's speed as a share of the encoder's own, and, run by run, the
# processor time the export adds to the encoder's own next to what the processors leave for it at
# 90 % of the encoder's speed.
set -eu
cd "$(dirname "$0")/.."
BUILD="${BUILD_DIR:-build}"
P="$BUILD/pictomove"
LENGTH="${LENGTH:-60}"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/pm-export-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
. bench/timing.sh
TIMES_FILE="$WORK/times"
PROCESSORS=$(nproc)

mkdir -p "$WORK/pictures"
ffmpeg -loglevel error -f lavfi -i "testsrc2=size=6000x4000" -frames:v 1 -q:v 2 "$WORK/pictures/1.jpg"
ffmpeg -loglevel error -f lavfi -i "mandelbrot=size=6000x4000:maxiter=100" -frames:v 1 -q:v 2 \
  "$WORK/pictures/2.jpg"
ffmpeg -loglevel error -f lavfi -i "gradients=size=6000x4000:n=6:seed=5" -frames:v 1 -q:v 2 \
  "$WORK/pictures/3.jpg"
scene=$(awk -v l="$LENGTH" 'BEGIN { printf "%.3f", (l + 2) / 3 }')
"$P" new -o "$WORK/show.mzp" --length "$scene" --overlap 1 --motion slight --size 1920x1080 \
  "$WORK/pictures" >/dev/null
frames=$((LENGTH * 30))

# Our exporter's own 4:2:0 pictures (Y4M: raw YUV with a header saying size and rate), so that the
# encoder gets the very bytes the export hands to it.
echo "export-vs-encoder: the frames, once, as raw YUV for the encoder (not timed)"
"$P" render "$WORK/show.mzp" -o "$WORK/frames.y4m" --size 1920x1080 --fps 30 2>/dev/null

export_run() { "$P" render "$WORK/show.mzp" -o "$WORK/ours.mp4" --size 1920x1080 --fps 30 2>/dev/null; }
render_run() {
  "$P" render "$WORK/show.mzp" -o - --format raw --size 1920x1080 --fps 30 2>/dev/null >/dev/null
}
encoder_run() {
  ffmpeg -loglevel error -i "$WORK/frames.y4m" -c:v libx264 -preset veryfast -crf 20 \
    -y "$WORK/encoder.mp4"
}
# The export's speed as a share of the encoder's.
share() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.0f %%", 100 * a / b }'; }
# One run's processor time (run, export, encoder, encoder frames per second, rendering alone): how
# much the export adds to the encoder's own, and how much the processors could give it at 90 % of
# the encoder's speed even if every one of them were busy throughout: processors x the encoder's
# time / 0.9, less the encoder's own processor time.
budget_line() {
  awk -v r="$1" -v x="$2" -v e="$3" -v fps="$4" -v d="$5" -v n="$PROCESSORS" -v f="$frames" \
    'BEGIN { printf "  run %d: encoder %.1f s, export %.1f s more; 90 %% leaves at most %.1f s more;" \
             " rendering alone %.1f s", r, e, x - e, n * f / fps / 0.9 - e, d }'
}
export_fps=""; render_fps=""; encoder_fps=""
# Each run's own share as well: the export and the encoder right after it see the same machine.
shares=""
budgets=""
run=1
while [ "$run" -le "$RUNS" ]; do
  echo "export-vs-encoder: run $run of $RUNS"
  set -- $(timed_with_processor $frames export_run)
  this_export=$1; export_cpu=$2
  export_fps=$(best "$export_fps" "$this_export")
  set -- $(timed_with_processor $frames render_run)
  render_fps=$(best "$render_fps" "$1"); render_cpu=$2
  cat "$WORK/frames.y4m" >/dev/null  # into the page cache, as the frames were for us
  set -- $(timed_with_processor $frames encoder_run)
  this_encoder=$1; encoder_cpu=$2
  encoder_fps=$(best "$encoder_fps" "$this_encoder")
  shares="$shares, $(share "$this_export" "$this_encoder")"
  budgets="$budgets
$(budget_line "$run" "$export_cpu" "$encoder_cpu" "$this_encoder" "$render_cpu")"
  run=$((run + 1))
done

echo
echo "$frames frames of 1920x1080 ($LENGTH s at 30 frames per second)"
echo "pictomove export to MP4 (H.264 veryfast): $export_fps frames per second"
echo "pictomove render without encoding:        $render_fps frames per second"
echo "ffmpeg encoding the same frames:          $encoder_fps frames per second"
echo "export speed / encoder speed: $(share "$export_fps" "$encoder_fps")"
echo "the same, run by run:        ${shares#, }"
echo "processor time, run by run ($PROCESSORS processors):$budgets"
