# shellcheck shell=bash
# Uses the viewer's window on an X display the way a person does: a private
# Xvfb, the window found by its title, Connect pressed with the mouse, the
# video area read from a screenshot. For the demo without a display and the
# test network's viewer test. Needs Xvfb, xdotool and ImageMagick.

# Places inside the 1400 x 900 window (the form's size). With no window
# manager the window sits at the screen's top left without a frame, so window
# and screen positions are the same. Measured on the form as laid out: the
# central layout's 9-pixel margins put the video widget at x 9..904,
# y 31..868 (below the menu bar) and the 480-pixel right panel at x 911..1391;
# Connect is the panel's 100 x 40 button at the right end of the connection
# type row, x 1284..1383, y 357..396, and Disconnect takes its place.
readonly viewer_connect_button=(1334 377)
# A point of the button off its text.
readonly viewer_connect_edge=(1290 362)
# shellcheck disable=SC2034  # read by the viewer test
readonly viewer_connect_area=100x40+1284+357
# A 4:3 frame is shrunk to the widget's width and centred on black
# (896 x 672 at y 114..786), so this middle part lies inside it.
readonly viewer_video_area=600x400+157+250
# The button's own colour, rgb(0, 0, 86), as ImageMagick prints a pixel.
readonly viewer_button_colour='srgb(0,0,86)'
# Mean brightness (0..1) above which the video area counts as showing a
# picture: the simulated end face gives about 0.55 there, black 0.
readonly viewer_picture_threshold=0.15

# The menu Function, and its last item Exit, measured the same way.
readonly viewer_function_menu=(40 11)
readonly viewer_exit_item=(55 111)

# start_xvfb DIR: starts Xvfb on a free display, sets DISPLAY and xvfb_pid.
# The display number comes from Xvfb itself (-displayfd), so parallel runs
# never race for one. Xvfb stays in the machine's own network namespace even
# when the viewer runs in another: a display's abstract socket belongs to one
# namespace while its lock file and socket file are shared, so servers in two
# namespaces could both take one number and remove each other's socket file.
# Clients anywhere reach it through that socket file. Stop it with kill and
# wait: it unlinks its socket file as it exits, which by then may belong to
# a server started on the same number.
start_xvfb()
{
  local dir=$1 _
  Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$dir/display" >"$dir/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    if grep -q '^[0-9]' "$dir/display" 2>/dev/null; then
      DISPLAY=:$(head -n 1 "$dir/display")
      return 0
    fi
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "Xvfb did not start: $(cat "$dir/xvfb.log")" >&2
  return 1
}

# viewer_window PID SECONDS: prints the id of the window the viewer with that
# process id shows, waiting up to SECONDS for it.
viewer_window()
{
  local pid=$1 seconds=$2 window
  local deadline=$((SECONDS + seconds))
  while [ "$SECONDS" -lt "$deadline" ]; do
    window=$(xdotool search --all --onlyvisible --pid "$pid" --name 'WiFi' 2>/dev/null | head -n 1) || true
    if [ -n "$window" ]; then
      echo "$window"
      return 0
    fi
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# pixel_colour X Y: the colour of one screen pixel.
pixel_colour()
{
  import -window root -crop "1x1+$1+$2" -depth 8 txt:- | sed -n '2s/.* \(s\?rgb[a]\?([^)]*)\).*/\1/p'
}

# wait_for_button SECONDS: waits until Connect shows where the form puts it
# (the window is drawn a moment after it is mapped).
wait_for_button()
{
  local deadline=$((SECONDS + $1))
  until [ "$(pixel_colour "${viewer_connect_edge[@]}")" = "$viewer_button_colour" ]; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

# press_connect WINDOW: clicks Connect after checking that the button is
# where the form puts it, then moves the pointer off the window so the button
# shows its own colour again.
press_connect()
{
  local window=$1 colour
  colour=$(pixel_colour "${viewer_connect_edge[@]}")
  if [ "$colour" != "$viewer_button_colour" ]; then
    echo "no button at ${viewer_connect_edge[*]} (colour $colour): has the form's layout changed?" >&2
    return 1
  fi
  xdotool mousemove --window "$window" "${viewer_connect_button[@]}" click 1 mousemove 800 950
}

# area_mean FILE AREA: mean brightness (0..1) of AREA (WxH+X+Y) of a picture.
area_mean()
{
  convert "$1" -crop "$2" +repage -colorspace Gray -format '%[fx:mean]' info:
}

# wait_for_video SECONDS FILE: takes screenshots into FILE until the video
# area shows a picture; fails when none comes within SECONDS.
wait_for_video()
{
  local seconds=$1 file=$2 mean
  local deadline=$((SECONDS + seconds))
  while :; do
    import -window root "$file"
    mean=$(area_mean "$file" "$viewer_video_area")
    awk -v m="$mean" -v t="$viewer_picture_threshold" 'BEGIN { exit !(m > t) }' && return 0
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}

# viewer_windows PID: how many windows the viewer shows (its menus are
# windows of their own).
viewer_windows()
{
  xdotool search --onlyvisible --pid "$1" 2>/dev/null | grep -c . || true
}

# close_viewer PID WINDOW: chooses Function > Exit, as a person ends the
# program.
close_viewer()
{
  local pid=$1 window=$2 _
  xdotool mousemove --window "$window" "${viewer_function_menu[@]}" click 1
  for _ in $(seq 50); do
    [ "$(viewer_windows "$pid")" -lt 2 ] || break
    sleep 0.1
  done
  xdotool mousemove --window "$window" "${viewer_exit_item[@]}" click 1
}

# exit_viewer PID WINDOW: ends the program through Function > Exit and
# checks that it ends within 10 s with status 0; else sets
# viewer_exit_problem and fails. Not in a subshell: only the shell that
# started the viewer can wait for it.
exit_viewer()
{
  local pid=$1 window=$2 status=0 _
  close_viewer "$pid" "$window"
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    viewer_exit_problem="the viewer did not end after Function > Exit"
    return 1
  fi
  wait "$pid" || status=$?
  if [ "$status" -ne 0 ]; then
    viewer_exit_problem="the viewer ended with status $status"
    return 1
  fi
}
