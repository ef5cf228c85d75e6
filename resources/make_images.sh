#!/usr/bin/env bash
# Draws the dialog page's images and the application icon (ImageMagick). The PNGs and the .ico are
# committed; run this only to change the design. Dark panels, one orange accent.
set -euo pipefail
cd "$(dirname "$0")"
orange='#ff7a1a'
strip='-strip -define png:exclude-chunks=date,time'
bold=$(fc-match -f '%{file}' 'DejaVu Sans:bold' 2>/dev/null || true)
font_arg=${bold:+-font $bold}

# Main panel: a dark radial glow (the page shows the centre 500 by 204 of it).
convert -size 686x398 radial-gradient:'#262a33'-'#0c0d10' \
  \( -size 686x398 xc:none -fill 'rgba(255,122,26,0.10)' -draw 'ellipse 343,250 210,40 0,360' -blur 0x24 \) \
  -composite $strip PNG32:main_panel_background.png
# Text panel: translucent black, thin light border, rounded corners.
convert -size 260x60 xc:none -fill 'rgba(0,0,0,0.45)' -stroke 'rgba(255,255,255,0.16)' \
  -draw 'roundrectangle 0.5,0.5 259.5,59.5 8,8' $strip PNG32:background_rounded_rectangle.png
# Progress track.
convert -size 400x15 xc:none -fill '#24262c' -stroke '#3a3d46' \
  -draw 'roundrectangle 0.5,0.5 399.5,14.5 7,7' $strip PNG32:progress_base.png
# Progress fill: orange, lighter at the top; it is stretched to the bar's width.
convert -size 268x15 gradient:'#ffa24d'-'#e85d00' $strip PNG32:progress_load.png
# Logo: the name in orange on nothing.
convert -background none -fill "$orange" $font_arg -pointsize 10 label:'ORLYN' -trim +repage \
  -resize 59x11 -gravity center -extent 59x11 $strip PNG32:orlyn_logo.png
# Minimise: a light bar near the bottom (shown at 16 by 16).
convert -size 48x48 xc:none -fill '#d8dae0' -draw 'roundrectangle 9,30 39,35 2,2' $strip PNG32:button_minimize.png
# Close: a light cross.
convert -size 9x9 xc:none -stroke '#d8dae0' -strokewidth 1.4 -draw 'line 0.5,0.5 8.5,8.5' \
  -draw 'line 8.5,0.5 0.5,8.5' $strip PNG32:button_close.png

# Icon: an orange rounded square with a dark ring, at 16, 32 and 48 pixels.
for size in 16 32 48; do
  r=$(( size / 5 )); e=$(( size - 1 )); c=$(( size / 2 )); ring=$(( size * 3 / 10 ))
  convert -size ${size}x${size} xc:none -fill "$orange" -draw "roundrectangle 0,0 $e,$e $r,$r" \
    -fill none -stroke '#15161a' -strokewidth $(( size / 10 > 1 ? size / 10 : 1 )) \
    -draw "circle $c,$c $c,$(( c - ring ))" PNG32:icon_$size.png
done
convert icon_16.png icon_32.png icon_48.png OrlynRepair.ico
rm -f icon_16.png icon_32.png icon_48.png
