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

# Sets children_total to the processor seconds (user and system) that this shell's finished
# children have used, read from the `times` builtin through the file TIMES_FILE. It sets a variable
# rather than printing: inside $(...) it would count the children of a new shell, which has none.
children_seconds() {
  times >"$TIMES_FILE"
  awk 'function s(t, p) { split(t, p, "m"); sub(/s$/, "", p[2]); return p[1] * 60 + p[2] }
       NR == 2 { printf "%.2f\n", s($1) + s($2) }' "$TIMES_FILE" >"$TIMES_FILE.sum"
  read -r children_total <"$TIMES_FILE.sum"
}
# frames, command...: "frames-per-second processor-seconds" of one run of the command.
timed_with_processor() {
  children_seconds
  twp_before=$children_total
  twp_fps=$(timed "$@")
  children_seconds
  echo "$twp_fps $(awk -v a="$twp_before" -v b="$children_total" 'BEGIN { printf "%.1f", b - a }')"
}
