#!/bin/sh
# End to end: the real pictomove opens a generated project in its editor under a virtual X
# server, the main window appears with the project's name in its caption, and the program closes
# cleanly (exit 0) when asked to terminate.
# usage: editor-starts.sh PICTOMOVE
set -eu
PICTOMOVE="$1"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
ffmpeg -loglevel error -f lavfi -i "testsrc2=size=640x480" -frames:v 1 "$WORK/a.png"
"$PICTOMOVE" new -o "$WORK/trip.mzp" "$WORK/a.png" "$WORK/a.png" >/dev/null 2>&1

cat > "$WORK/session.sh" <<'INNER'
#!/bin/sh
set -u
"$1" "$2" >"$3/editor.log" 2>&1 &
pid=$!
tries=0
until xwininfo -root -tree 2>/dev/null | grep -q '"trip.mzp - Pictomove"'; do
  tries=$((tries + 1))
  if [ $tries -gt 100 ] || ! kill -0 $pid 2>/dev/null; then
    echo "editor-starts: no main window with the project's name"; cat "$3/editor.log"
    kill $pid 2>/dev/null; exit 1
  fi
  sleep 0.1
done
echo "editor-starts: the main window shows trip.mzp after $tries tenths of a second"
kill -TERM $pid
code=0
wait $pid || code=$?
if [ $code -ne 0 ]; then
  echo "editor-starts: exit code $code after the termination request"; cat "$3/editor.log"; exit 1
fi
echo "editor-starts: closed cleanly"
INNER
chmod +x "$WORK/session.sh"
# The editor keeps its layouts in the user's settings: a home of its own for the test.
mkdir -p "$WORK/home"
HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config" \
  xvfb-run -a -s "-screen 0 1280x800x24" "$WORK/session.sh" "$PICTOMOVE" "$WORK/trip.mzp" "$WORK"
