#!/usr/bin/env bash
# Draws the program's built-in pictures and its icon with ImageMagick.
# The results are committed; run this again only to change the design.
#   startup.bmp     353 x 238  splash picture (the version is written over
#                              the light band at the bottom at run time)
#   title.bmp       150 x  54  title picture of the main window
#   about_title.bmp 300 x 100  title picture of the About box
#   app.ico         16, 32, 48 the window and program icon
#   setup_side.bmp  164 x 314  the setup program's welcome and finish pages,
#                              installer and uninstaller (the size NSIS's
#                              Modern UI lays out for that picture)
set -euo pipefail
cd "$(dirname "$0")"

navy='#14365c'
teal='#1f7a8c'
light='#e9eff5'
bold='DejaVu-Sans-Bold'
regular='DejaVu-Sans'

# A stylised device, a rounded body with an arrow pointing into it, at x,y
# in a box of 34 x 60 pixels times the scale. Sets the array glyph.
device_glyph() { # x y scale
  local x=$1 y=$2 s=$3
  glyph=(-fill none -stroke white -strokewidth "$((2 * s))"
    -draw "roundrectangle $x,$y $((x + 34 * s)),$((y + 60 * s)) $((5 * s)),$((5 * s))"
    -stroke none -fill '#ffffff30'
    -draw "rectangle $((x + 6 * s)),$((y + 8 * s)) $((x + 28 * s)),$((y + 46 * s))"
    -fill white
    -draw "circle $((x + 17 * s)),$((y + 53 * s)) $((x + 17 * s)),$((y + 55 * s))"
    -draw "polygon $((x + 10 * s)),$((y + 24 * s)) $((x + 24 * s)),$((y + 24 * s)) $((x + 17 * s)),$((y + 35 * s))"
    -draw "rectangle $((x + 15 * s)),$((y + 12 * s)) $((x + 19 * s)),$((y + 24 * s))")
}


device_glyph 284 46 1
convert -size 353x176 "gradient:$navy-$teal" "${glyph[@]}" \
  -font "$bold" -fill white -pointsize 32 -annotate +22+80 'QV70' \
  -font "$regular" -pointsize 22 -annotate +22+110 'Device Manager' \
  -fill '#ffffffa0' -draw 'rectangle 22,122 200,123' \
  -pointsize 11 -annotate +22+146 'Firmware upgrade and repair' \
  -background "$light" -gravity north -extent 353x238 -gravity northwest \
  -fill "$teal" -draw 'rectangle 0,176 353,178' \
  -type TrueColor -depth 8 -alpha off -compress none BMP3:startup.bmp

convert -size 150x54 "gradient:$navy-$teal" \
  -font "$bold" -fill white -pointsize 20 -annotate +10+25 'QV70' \
  -font "$regular" -pointsize 12 -annotate +10+43 'Device Manager' \
  -fill none -stroke white -strokewidth 1 -draw 'roundrectangle 122,9 140,44 3,3' \
  -stroke none -fill white -draw 'polygon 126,24 136,24 131,31' -draw 'rectangle 130,15 132,24' \
  -type TrueColor -depth 8 -alpha off -compress none BMP3:title.bmp

device_glyph 246 20 1
convert -size 300x100 "gradient:$navy-$teal" "${glyph[@]}" \
  -font "$bold" -fill white -pointsize 28 -annotate +18+48 'QV70' \
  -font "$regular" -pointsize 19 -annotate +18+76 'Device Manager' \
  -type TrueColor -depth 8 -alpha off -compress none BMP3:about_title.bmp

device_glyph 48 56 2
convert -size 164x314 "gradient:$navy-$teal" "${glyph[@]}" \
  -font "$bold" -fill white -pointsize 32 -gravity north -annotate +0+212 'QV70' \
  -font "$regular" -pointsize 16 -annotate +0+252 'Device Manager' \
  -fill '#ffffffa0' -draw 'rectangle 32,282 132,283' \
  -type TrueColor -depth 8 -alpha off -compress none BMP3:setup_side.bmp

# The icon: the same device on a rounded navy tile, drawn large and scaled.
convert -size 256x256 xc:none -fill "$navy" -draw 'roundrectangle 8,8 247,247 44,44' \
  -fill none -stroke white -strokewidth 18 -draw 'roundrectangle 74,30 182,226 20,20' \
  -stroke none -fill white -draw 'polygon 88,112 168,112 128,172' -draw 'rectangle 113,58 143,114' \
  -define icon:auto-resize=48,32,16 app.ico
