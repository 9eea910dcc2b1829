# Timing helpers for the head-to-head scripts (sourced, not run).
#
# This machine's speed drifts from one run to the next: every measurement is taken RUNS times
# (default 2), the sides taking turns, and the faster kept for each.
RUNS="${RUNS:-2}"

now() { date +%s.%N; }
# Frames per second of `frames` frames between two times.
fps() { awk -v s="$1" -v e="$2" -v f="$3" 'BEGIN { printf "%.1f", f / (e - s) }'; }
# The larger of two figures, the first possibly empty.
best() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b > a) ? b : a }'; }
# frames, command...: frames per second of one run of the command.
timed() {
  timed_frames=$1
  shift
  timed_start=$(now)
  "$@"
  fps "$timed_start" "$(now)" "$timed_frames"
}
