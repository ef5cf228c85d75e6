#!/usr/bin/env bash
# Sourced: watches the X display for windows being mapped (shown). Every top-level window of a Wine
# program is an X window whose parent is the root (override-redirect with the X11 driver's
# "Managed"="N"), so a substructure watch on the root sees each one created, moved and mapped.
# Wine's Direct3D maps 1x1 helper windows at (-1,-1), wholly off the screen: nobody sees those, so a
# window counts as shown only when some part of it is on the screen. Needs $DISPLAY and $tmp.

start_window_watch() {
  watch_log=$tmp/xev.log
  xev -root -event substructure >"$watch_log" 2>/dev/null &
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
}

# shown_windows: one line per window mapped while on the screen: "<id> <width>x<height>+<x>+<y>".
shown_windows() {
  local size
  size=$(xwininfo -root | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w, h}')
  awk -v RS= -v screen="$size" '
    BEGIN { split(screen, s, " ") }
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
      if (gx[id] + gw[id] > 0 && gy[id] + gh[id] > 0 && gx[id] < s[1] && gy[id] < s[2])
        printf "%s %sx%s+%s+%s\n", id, gw[id], gh[id], gx[id], gy[id]
    }' "$watch_log"
}
