#!/bin/sh
# Head to head with ffmpeg's zoompan filter, in one run on this machine:
#  1. speed: the same slow zoom and pan over one 6000x4000 picture, 10 s of 1920x1080 at 30 frames
#     per second, rendered to raw frames (no encoding) and to H.264 "veryfast";
#  2. smoothness: a slow pan over a picture of one small bright dot; the dot's centroid should move
#     by the same amount every frame. Prints the largest deviation of a step from the mean step.
# Needs a built tree (make build). Run from anywhere.
set -eu
cd "$(dirname "$0")/.."
BUILD="${BUILD_DIR:-build}"
P="$BUILD/pictomove"
MAKE_PROJECT="$BUILD/bench/make_bench_project"
CENTROID="$BUILD/bench/centroid_steps"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

. bench/timing.sh
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "compare-peers: making a 6000x4000 picture"
ffmpeg -loglevel error -f lavfi -i "testsrc2=size=6000x4000" -frames:v 1 -q:v 2 "$WORK/big.jpg"

# Our scale s shows a 6000x4000 picture like zoompan's zoom 1.5 s; the pan moves the centre from
# 45 % to 55 % of the width.
"$MAKE_PROJECT" "$WORK/big.jpg" "$WORK/zoom.mzp" 10 1920 1080 1.0 1.5 0.45 0.55 0.5 0.5
ZOOMPAN="zoompan=z='1.5+0.75*on/300':x='(0.45+0.1*on/300)*iw-iw/zoom/2':y='ih/2-ih/zoom/2':d=300:s=1920x1080:fps=30"
FRAMES=300

ours_raw_run() {
  "$P" render "$WORK/zoom.mzp" -o - --format raw --size 1920x1080 --fps 30 >/dev/null 2>&1
}
peer_raw_run() { ffmpeg -loglevel error -i "$WORK/big.jpg" -vf "$ZOOMPAN" -f null -; }
ours_h264_run() {
  "$P" render "$WORK/zoom.mzp" -o "$WORK/ours.mp4" --size 1920x1080 --fps 30 >/dev/null 2>&1
}
peer_h264_run() {
  ffmpeg -loglevel error -i "$WORK/big.jpg" -vf "$ZOOMPAN" -c:v libx264 -preset veryfast \
    -pix_fmt yuv420p -y "$WORK/peer.mp4"
}

ours_raw=""; peer_raw=""; ours_h264=""; peer_h264=""
run=1
while [ "$run" -le "$RUNS" ]; do
  echo "compare-peers: raw frames (no encoding), run $run"
  ours_raw=$(best "$ours_raw" "$(timed $FRAMES ours_raw_run)")
  peer_raw=$(best "$peer_raw" "$(timed $FRAMES peer_raw_run)")
  echo "compare-peers: H.264 veryfast, run $run"
  ours_h264=$(best "$ours_h264" "$(timed $FRAMES ours_h264_run)")
  peer_h264=$(best "$peer_h264" "$(timed $FRAMES peer_h264_run)")
  run=$((run + 1))
done

echo "compare-peers: smoothness of a slow pan over one bright dot (960x540)"
ffmpeg -loglevel error -f lavfi -i "color=black:size=6000x4000,drawbox=x=2996:y=1996:w=8:h=8:color=white:t=fill" \
  -frames:v 1 "$WORK/dot.png"
"$MAKE_PROJECT" "$WORK/dot.png" "$WORK/dot.mzp" 10 960 540 1.0 1.0 0.49 0.51 0.5 0.5
ours_smooth=$("$P" render "$WORK/dot.mzp" -o - --format raw --size 960x540 --fps 30 2>/dev/null |
  "$CENTROID" 960 540)
peer_smooth=$(ffmpeg -loglevel error -i "$WORK/dot.png" \
  -vf "zoompan=z=1.5:x='(0.49+0.02*on/300)*iw-iw/zoom/2':y='ih/2-ih/zoom/2':d=300:s=960x540:fps=30" \
  -f rawvideo -pix_fmt bgra - | "$CENTROID" 960 540)

echo
echo "                      pictomove     ffmpeg zoompan   ratio"
printf "raw frames (fps)      %9s     %14s   %5sx\n" "$ours_raw" "$peer_raw" "$(ratio "$ours_raw" "$peer_raw")"
printf "H.264 veryfast (fps)  %9s     %14s   %5sx\n" "$ours_h264" "$peer_h264" "$(ratio "$ours_h264" "$peer_h264")"
echo "smoothness, pictomove: $ours_smooth"
echo "smoothness, zoompan:   $peer_smooth"
