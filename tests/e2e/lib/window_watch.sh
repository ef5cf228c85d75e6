#!/usr/bin/env bash
# Sourced: watches the X display for windows being mapped (shown). Every top-level window of a Wine
# program is an X window whose parent is the root (override-redirect with the X11 driver's
# "Managed"="N"), so a substructure watch on the root sees each one created, moved and mapped.
# Two kinds of mapped window show no pixel, and only these are passed over:
#   - a window wholly off the screen (Wine's 1x1 helper at (-1,-1));
#   - the Direct3D probe's window: Direct3DCreate9 (in the system report) makes Wine 10 map a 1x1
#     override-redirect window at (0,0) with an empty bounding shape, which carries none of the
#     properties (WM_CLASS, WM_NAME, _NET_WM_PID) that Wine gives the X window of every Win32 window.
# The properties and the shape are read the moment each map is seen; a window gone by then counts as
# shown. Needs $DISPLAY and $tmp.

start_window_watch() {
  watch_log=$tmp/xev.log
  watch_facts=$tmp/xev.facts
  : >"$watch_log"
  : >"$watch_facts"
  : >"$watch_facts.names"
  rm -f "$tmp/xev.fifo"
  mkfifo "$tmp/xev.fifo"
  watch_reader "$tmp/xev.fifo" &
  watch_reader_pid=$!
  xev -root -event substructure >"$tmp/xev.fifo" 2>/dev/null &
  watch_xev_pid=$!
  # Subscribed once xev has written its first event or had time to connect.
  local i
  for i in $(seq 1 30); do [ -s "$watch_log" ] && break; sleep 0.1; done
}

stop_window_watch() {
  xdotool getmouselocation >/dev/null 2>&1 || true  # a round trip: events before it are delivered
  sleep 0.2
  kill "$watch_xev_pid" 2>/dev/null || true
  wait "$watch_xev_pid" 2>/dev/null || true
  wait "$watch_reader_pid" 2>/dev/null || true  # ends at the end of xev's output
}

# watch_reader FIFO: copies xev's events into $watch_log and, for each window mapped, appends to
# $watch_facts "<id> class=<yes|no> shape=<extents|none>" read from the live window, or "<id> gone".
watch_reader() {
  local line prev="" id props shape
  while IFS= read -r line; do
    printf '%s\n' "$line" >>"$watch_log"
    case "$prev" in MapNotify*) ;; *) prev=$line; continue ;; esac
    prev=$line
    id=${line#*, window }
    id=${id%%,*}
    if props=$(xprop -id "$id" WM_CLASS WM_NAME _NET_WM_PID 2>/dev/null) &&
       shape=$(xwininfo -id "$id" -shape 2>/dev/null); then
      # What the window says it is, for the message of a test that finds it shown.
      printf '%s %s\n' "$id" "$(printf '%s' "$props" | tr '\n' ' ')" >>"$watch_facts.names"
      # xprop says "<name>:  not found." for each property the window lacks.
      if printf '%s\n' "$props" | grep -q -v "not found"; then props=yes; else props=no; fi
      shape=$(printf '%s\n' "$shape" | sed -n 's/^ *Window shape extents: *//p')
      printf '%s class=%s shape=%s\n' "$id" "$props" "${shape:-none}" >>"$watch_facts"
    else
      printf '%s gone\n' "$id" >>"$watch_facts"
    fi
  done <"$1"
}

# shown_windows: one line per window mapped while on the screen: "<id> <width>x<height>+<x>+<y>" and
# what xprop read of its WM_CLASS, WM_NAME and _NET_WM_PID when it was mapped.
shown_windows() {
  local size
  size=$(xwininfo -root | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w, h}')
  awk -v screen="$size" -v facts="$watch_facts" '
    BEGIN {
      split(screen, s, " ")
      while ((getline line < facts) > 0) { split(line, f, " "); fact[f[1]] = substr(line, length(f[1]) + 2) }
      names = facts ".names"
      while ((getline line < names) > 0) { split(line, f, " "); name[f[1]] = substr(line, length(f[1]) + 2) }
      RS = ""  # the events: one paragraph each
    }
    { gsub(/\n/, " ") }
    /^(CreateNotify|ConfigureNotify)/ {
      match($0, / window 0x[0-9a-f]+, \(/); id = substr($0, RSTART + 8, RLENGTH - 11)
      match($0, /\(-?[0-9]+,-?[0-9]+\)/); split(substr($0, RSTART + 1, RLENGTH - 2), xy, ",")
      match($0, /width [0-9]+/); w = substr($0, RSTART + 6, RLENGTH - 6)
      match($0, /height [0-9]+/); h = substr($0, RSTART + 7, RLENGTH - 7)
      gx[id] = xy[1]; gy[id] = xy[2]; gw[id] = w; gh[id] = h
    }
    /^MapNotify/ {
      match($0, /event 0x[0-9a-f]+, window 0x[0-9a-f]+/); split(substr($0, RSTART, RLENGTH), f, " window ")
      id = f[2]
      if (!(gx[id] + gw[id] > 0 && gy[id] + gh[id] > 0 && gx[id] < s[1] && gy[id] < s[2])) next
      # The Direct3D probe window: 1x1, override-redirect, no Win32 window properties, empty shape.
      if (gw[id] == 1 && gh[id] == 1 && / override YES/ && fact[id] == "class=no shape=0x0+0+0") next
      printf "%s %sx%s+%s+%s %s\n", id, gw[id], gh[id], gx[id], gy[id], name[id]
    }' "$watch_log"
}
