#!/bin/sh
# How long the editor takes from its start to its main window on the screen, with a project of
# 50 scenes, beside a bare Qt window started the same way, in one run under a virtual X server.
# Each is started RUNS times (default 2), taking turns; the fastest start of each is kept.
# Needs a built tree (make build). Run from anywhere.
set -eu
cd "$(dirname "$0")/.."
BUILD="${BUILD_DIR:-build}"
P="$(pwd)/$BUILD/pictomove"
BARE="$(pwd)/$BUILD/bench/bare_window"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
RUNS="${RUNS:-2}"

echo "editor-start: making a project of 50 scenes"
mkdir -p "$WORK/pictures"
i=0
while [ $i -lt 50 ]; do
  ffmpeg -loglevel error -f lavfi -i "testsrc2=size=1600x1200" -vf "hue=h=$((i * 7))" \
    -frames:v 1 "$WORK/pictures/p$i.jpg"
  i=$((i + 1))
done
"$P" new -o "$WORK/fifty.mzp" "$WORK/pictures" >/dev/null 2>&1

cat > "$WORK/measure.sh" <<'INNER'
#!/bin/sh
# measure.sh TITLE COMMAND...: seconds until a window of that title is mapped.
set -u
title="$1"
shift
start=$(date +%s.%N)
"$@" >/dev/null 2>&1 &
pid=$!
until xwininfo -root -tree 2>/dev/null | grep -q "\"$title\""; do
  sleep 0.01
done
end=$(date +%s.%N)
kill -TERM $pid
wait $pid 2>/dev/null || true
awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f\n", e - s }'
INNER
chmod +x "$WORK/measure.sh"

cat > "$WORK/session.sh" <<INNER
#!/bin/sh
set -eu
ours=""
bare=""
run=1
while [ \$run -le $RUNS ]; do
  b=\$("$WORK/measure.sh" "Bare window" "$BARE")
  o=\$("$WORK/measure.sh" "fifty.mzp - Pictomove" "$P" "$WORK/fifty.mzp")
  bare=\$(awk -v a="\$bare" -v b="\$b" 'BEGIN { print (a == "" || b < a) ? b : a }')
  ours=\$(awk -v a="\$ours" -v b="\$o" 'BEGIN { print (a == "" || b < a) ? b : a }')
  run=\$((run + 1))
done
echo "editor-start: bare Qt window     \$bare s"
echo "editor-start: editor, 50 scenes  \$ours s"
awk -v o="\$ours" -v b="\$bare" 'BEGIN { printf "editor-start: ratio %.2f (goal: at most 1.5, and under 1 s)\n", o / b }'
INNER
chmod +x "$WORK/session.sh"
mkdir -p "$WORK/home"
HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config" xvfb-run -a -s "-screen 0 1600x1000x24" "$WORK/session.sh"
