#!/usr/bin/env bash
# The viewer program on a real X server, driven as a person would: started, looked at (a screenshot
# of the root window), ended with Escape; and on a single screen, its error box dismissed.
#
#   viewer_under_x.sh two-outputs VIEWER   (under scripts/with-xorg --outputs 2)
#   viewer_under_x.sh one-output VIEWER    (starts its own single-screen server)
#   viewer_under_x.sh one-output-no-fonts VIEWER  (the same without X core fonts: no box can open)
#   viewer_under_x.sh operator VIEWER      (under scripts/with-xorg --outputs 2: the operator's keys)
# Exit 77 (skipped) when no suitable X server is there.
set -u
mode="$1"
viewer="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'kill "$pid" 2>/dev/null; [ -n "${KEEP_WORK:-}" ] && cp -r "$work" "$KEEP_WORK"; rm -rf "$work"' EXIT
pid=""

fail() { echo "FAIL: $*" >&2; [ -f "$work/err" ] && sed 's/^/  viewer: /' "$work/err" >&2; exit 1; }

wait_for_exit() {  # pid seconds -> the exit code, or fails
  local i
  for i in $(seq $(( $2 * 10 ))); do kill -0 "$1" 2>/dev/null || { wait "$1"; return $?; }; sleep 0.1; done
  fail "the viewer did not end within $2 s"
}

# What output 1 (side 1, at x = 800) and output 0 (side 2, at x = 0) show, against crops of the files
# at the trace's crops ($crop1, $crop2).
shows() {  # file1 file2 what
  import -window root "$work/root.png" || fail "no screenshot"
  convert "$work/root.png" -crop 800x600+800+0 +repage "$work/shown1.png"
  convert "$work/root.png" -crop 800x600+0+0 +repage "$work/shown2.png"
  convert "$work/$1" -crop "800x600+${crop1}+84" +repage "$work/expected1.png"
  convert "$work/$2" -crop "800x600+${crop2}+84" +repage "$work/expected2.png"
  for side in 1 2; do
    differ=$(compare -metric AE "$work/shown$side.png" "$work/expected$side.png" null: 2>&1)
    [ "$differ" = "0" ] || fail "$3: side $side: $differ pixels differ from the expected crop"
  done
}

# Skips without two X outputs; makes left.png and right.png of a textured scene in which the right
# camera sees every point 48 pixels further left.
two_outputs_and_a_textured_pair() {
  [ -n "${DISPLAY:-}" ] || { echo "no DISPLAY: run under scripts/with-xorg --outputs 2"; exit 77; }
  monitors=$(xrandr --listactivemonitors 2>/dev/null | head -1 | awk '{print $2}')
  [ "$monitors" = "2" ] || { echo "needs two outputs, found ${monitors:-none}"; exit 77; }
  convert -size 1072x768 xc:gray50 -seed 5 +noise Random -blur 0x1 -depth 8 -type TrueColor "$work/scene.png" || fail "cannot make images"
  convert "$work/scene.png" -crop 1024x768+0+0 +repage -depth 8 -type TrueColor "$work/left.png"
  convert "$work/scene.png" -crop 1024x768+48+0 +repage -depth 8 -type TrueColor "$work/right.png"
}

case "$mode" in
two-outputs)
  two_outputs_and_a_textured_pair
  "$viewer" --camera-files "$work/left.png" "$work/right.png" --identity-maps --trace "$work/trace.csv" \
    >"$work/out" 2>"$work/err" &
  pid=$!
  sleep 5
  kill -0 "$pid" 2>/dev/null || fail "the viewer ended early"
  last=$(tail -1 "$work/trace.csv")
  crop1=$(echo "$last" | cut -d, -f6)
  crop2=$(echo "$last" | cut -d, -f7)
  dominant=$(echo "$last" | cut -d, -f4)
  [ "$dominant" = "48" ] || fail "dominant disparity $dominant, expected 48 (trace: $last)"
  shows left.png right.png "two outputs"
  # The viewer's message window is never mapped, so no window manager can raise it over a view.
  xwininfo -name "Direct3D aplikace" 2>/dev/null | grep -q "Map State: IsViewable" && fail "the message window is visible"
  xdotool key Escape
  wait_for_exit "$pid" 10; code=$?
  [ "$code" = "0" ] || fail "exit code $code after Escape"
  grep -q "Direct3D aplikace:" "$work/err" && fail "an error box was shown"
  echo "PASS: both views on their displays (crops at $crop1 and $crop2), Escape ended with 0"
  ;;
operator)
  two_outputs_and_a_textured_pair
  (cd "$work" && exec "$viewer" --camera-files left.png right.png --identity-maps --trace trace.csv >out 2>err) &
  pid=$!
  # Crops of the last trace line, once it has settled on `expect` (dominant) within 10 s.
  settle() {
    local i
    for i in $(seq 100); do
      last=$(tail -1 "$work/trace.csv" 2>/dev/null)
      [ "$(echo "$last" | cut -d, -f4)" = "$1" ] && break
      sleep 0.1
    done
    sleep 0.5
    last=$(tail -1 "$work/trace.csv"); crop1=$(echo "$last" | cut -d, -f6); crop2=$(echo "$last" | cut -d, -f7)
  }
  settle 48
  # Locked, the crops stay where they are whatever the matching finds; + + + moves them 3 pixels apart.
  xdotool key l; sleep 0.5
  follower=$(tail -1 "$work/trace.csv" | cut -d, -f5)
  xdotool key plus plus plus; sleep 0.5
  settle 48
  [ "$(tail -1 "$work/trace.csv" | cut -d, -f5)" = "$follower" ] || fail "the lock did not hold the follower"
  [ "$crop1" = "$((112 + (follower + 6) / 2))" ] || fail "the nudge did not move the crops (follower $follower, $last)"
  shows left.png right.png "nudged"
  # s: the left eye (output 1) gets the right camera's frames.
  xdotool key s; sleep 1
  last=$(tail -1 "$work/trace.csv"); crop1=$(echo "$last" | cut -d, -f6); crop2=$(echo "$last" | cut -d, -f7)
  shows right.png left.png "swapped"
  # o: the overlay, a dark box near the top-left corner of both eyes' views.
  xdotool key o; sleep 0.5
  import -window root "$work/root.png" || fail "no screenshot"
  for at in 816+16 16+16; do
    mean=$(convert "$work/root.png" -crop "300x100+$at" +repage -colorspace gray -format "%[fx:mean]" info:)
    awk "BEGIN { exit !($mean < 0.3) }" || fail "no dark overlay box at $at (mean $mean)"
  done
  # p: a snapshot of what is shown (both views of one pass, left eye left) in the working directory,
  # named on standard error; in it the overlay is the same in both eyes.
  xdotool key p; sleep 1
  shot=$(sed -n 's/^snapshot written to //p' "$work/err" | head -1)
  [ -n "$shot" ] && [ -f "$shot" ] || fail "no snapshot written"
  case "$shot" in "$work"/stereo-viewer-*.png) ;; *) fail "snapshot not in the working directory: $shot" ;; esac
  [ "$(identify -format %wx%h "$shot")" = "1600x600" ] || fail "the snapshot is not both views"
  convert "$shot" -crop 300x100+16+16 +repage "$work/box1.png"
  convert "$shot" -crop 300x100+816+16 +repage "$work/box2.png"
  differ=$(compare -metric AE "$work/box1.png" "$work/box2.png" null: 2>&1)
  [ "$differ" = "0" ] || fail "the overlay differs between the eyes ($differ pixels)"
  xdotool key Escape
  wait_for_exit "$pid" 10; code=$?
  [ "$code" = "0" ] || fail "exit code $code after Escape"
  echo "PASS: lock held the follower at $follower, + + + moved the crops, s swapped the eyes, o drew the overlay in both, p wrote $shot"
  ;;
one-output)
  command -v Xvfb >/dev/null || { echo "no Xvfb"; exit 77; }
  cat >"$work/run.sh" <<SCRIPT
"$viewer" --identity-maps >"$work/out" 2>"$work/err" &
p=\$!
for i in \$(seq 100); do grep -q "Direct3D aplikace:" "$work/err" && break; sleep 0.1; done
sleep 1
box=\$(xwininfo -root -children | grep '"Direct3D aplikace": ()' | awk '{print \$1}' | head -1)
[ -n "\$box" ] || { echo "no box window"; kill \$p; exit 1; }
xdotool windowfocus --sync "\$box" key Return
for i in \$(seq 100); do kill -0 \$p 2>/dev/null || break; sleep 0.1; done
wait \$p
SCRIPT
  timeout 60 "$here/../../scripts/with-xorg" --outputs 1 -- bash "$work/run.sh"; code=$?
  [ "$code" = "0" ] || fail "exit code $code"
  grep -q "Direct3D aplikace: Nelze vytvořit objekt Direct3DDevice!" "$work/err" || fail "the box did not say why"
  echo "PASS: one display: the box said 'Nelze vytvořit objekt Direct3DDevice!', dismissed, exit 0"
  ;;
one-output-no-fonts)
  # Where the box cannot be shown the run ends as after a dismissed box: the text on standard
  # error, exit code 0, and no window left waiting for a click.
  command -v Xvfb >/dev/null || { echo "no Xvfb"; exit 77; }
  timeout 60 "$here/../../scripts/with-xorg" --outputs 1 --no-core-fonts -- \
    timeout -s KILL 30 "$viewer" --identity-maps >"$work/out" 2>"$work/err"; code=$?
  [ "$code" = "0" ] || fail "exit code $code (137: killed, waiting for a box nobody could see)"
  grep -qx "Direct3D aplikace: Nelze vytvořit objekt Direct3DDevice!" "$work/err" || fail "the text is not on standard error"
  echo "PASS: no core fonts: no box, the text on standard error, exit 0"
  ;;
*) echo "unknown mode $mode" >&2; exit 2 ;;
esac
