#!/bin/sh
# Draws the installer's artwork and writes it into resources/:
#   resources/logo.jpg  the picture the installer's window shows
#   resources/app.ico   the program's icon, assembled by scripts/make-ico.py
#   resources/talvor-apply.ico  the tool's icon: two of app.ico's images, to stay small
# The output is committed; the build never runs this. Re-running it gives the
# same pictures (the one random input, the terrain's roughness, is seeded).
# Needs ImageMagick, python3, icoutils (for the check at the end) and the
# DejaVu fonts, all in scripts/setup.sh.
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
out="$repo/resources"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM

# One palette for everything: pale hypsometric tints, brown contours,
# blue water, navy and red for the compass, gold for its hub.
navy='#1E3A5C'
navy_light='#3C6A98'
steel='#8FA9C4'
red='#D0452F'
red_dark='#9E2F1E'
gold='#E2AC3F'
gold_dark='#B9832A'
contour='#9A6B3F'
water='#A7D0EC'
water_dark='#4F8FC0'
lowland='#CFE5C3'
meadow='#EAEFC6'
hill='#EEDDB3'
hilltop='#E3C39A'
woods='#8FC27A'
woods_pale='#B3D69C'
paper='#FBF8F0'
font='DejaVu-Sans-Bold'

# The map is drawn twice the size it is used at, then scaled down, so that
# every edge is smooth.
map_w=680
map_h=520

# Terrain height as a grey image: two summits and two knolls made of blurred
# discs, a basin for the lake, and seeded plasma for natural roughness.
height_field() {
  convert -size ${map_w}x${map_h} -virtual-pixel edge \
    \( xc:gray12 -fill gray40 -draw 'ellipse 200,200 170,130 0,360' \
       -fill gray30 -draw 'ellipse 500,300 140,120 0,360' -blur 0x70 \) \
    \( xc:black -fill gray60 -draw 'circle 205,190 205,240' \
       -fill gray50 -draw 'circle 505,310 505,350' \
       -fill gray40 -draw 'ellipse 390,90 60,30 0,360' \
       -fill gray35 -draw 'ellipse 600,120 40,30 0,360' -blur 0x35 \) \
    \( -seed 5 plasma:gray50-gray50 -colorspace gray -blur 0x12 \
       -auto-level -evaluate multiply 0.3 \) \
    -background black -compose plus -flatten \
    \( -size ${map_w}x${map_h} xc:white -fill gray10 \
       -draw 'ellipse 80,450 100,60 0,360' -blur 0x30 \) \
    -compose multiply -composite -auto-level "$work/height.png"
}

# The flat map: stepped tints by height, woods in the lower valleys, a lake
# in the basin, contour lines, a river, a dashed trail to the eastern summit
# and a faint grid. Paths use round joins: with mitre joins this ImageMagick
# strokes an open path as if it were closed.
river='M 440,0 C 430,80 380,120 370,190 C 360,260 330,300 280,340 C 230,380 200,420 150,440'
trail='M 300,520 C 330,470 390,470 420,430 C 450,390 470,360 505,312'
summit_x=505
summit_y=312

# Writes to $3 colour $1 showing through the white parts of mask $2.
paint() {
  convert "$2" -fill "$1" -colorize 100 "$2" -alpha off \
    -compose copy_opacity -composite "$3"
}

terrain() {
  convert -size 1x1 xc:"$lowland" xc:'#DDEBC4' xc:"$meadow" xc:'#F2EBC2' \
    xc:"$hill" xc:'#E6CBA2' xc:'#D9B690' +append "$work/tints.png"
  convert "$work/height.png" -posterize 14 "$work/levels.png"
  convert "$work/height.png" -threshold 9% -negate "$work/lake.png"
  convert "$work/levels.png" -morphology Edge Diamond:1 -threshold 1% \
    \( "$work/lake.png" -negate \) -compose multiply -composite \
    "$work/lines.png"
  convert "$work/lake.png" -morphology EdgeOut Disk:2 "$work/shore.png"
  convert -size ${map_w}x${map_h} -seed 9 plasma:gray50-gray50 \
    -colorspace gray -blur 0x10 -auto-level -threshold 55% \
    \( "$work/height.png" -threshold 40% -negate \) \
    -compose multiply -composite \
    \( "$work/lake.png" -morphology Dilate Disk:6 -negate \) \
    -compose multiply -composite \
    -morphology Open Disk:3 -evaluate multiply 0.55 "$work/woods.png"
  paint "$woods" "$work/woods.png" "$work/woods-layer.png"
  paint "$contour" "$work/lines.png" "$work/lines-layer.png"
  paint "$water" "$work/lake.png" "$work/lake-layer.png"
  paint "$water_dark" "$work/shore.png" "$work/shore-layer.png"

  convert "$work/levels.png" "$work/tints.png" -interpolate bilinear -clut \
    "$work/woods-layer.png" "$work/lines-layer.png" "$work/lake-layer.png" \
    "$work/shore-layer.png" -background none -compose over -flatten \
    -fill none -stroke "$water_dark" -strokewidth 7 \
    -draw "stroke-linejoin round path '$river'" \
    -stroke "$water" -strokewidth 3 \
    -draw "stroke-linejoin round path '$river'" \
    -stroke "${navy}33" -strokewidth 2 \
    -draw 'line 170,0 170,520' -draw 'line 340,0 340,520' \
    -draw 'line 510,0 510,520' -draw 'line 0,173 680,173' \
    -draw 'line 0,346 680,346' \
    -stroke "$red" -strokewidth 5 \
    -draw "stroke-linejoin round stroke-dasharray 16 10 path '$trail'" \
    "$work/terrain.png"
}

# Folds the flat map like a road map: four panels sheared alternately up and
# down, those facing away from the light shaded darker.
panel_w=$((map_w / 4))
lift=40

folded_map() {
  convert "$work/terrain.png" \
    \( -size ${map_h}x${panel_w} gradient:white-gray93 -rotate -90 \) \
    \( -size ${map_h}x${panel_w} gradient:gray80-gray90 -rotate -90 \) \
    \( -clone 1 \) \( -clone 2 \) \( -clone 1-4 +append \) \
    -delete 1-4 -compose multiply -composite "$work/shaded.png"
  set --
  k=0
  while [ $k -lt 4 ]; do
    x0=$((k * panel_w))
    # Each panel is cut one pixel wider so that neighbours overlap and no
    # seam shows through at the folds.
    cut_w=$((panel_w + 1))
    if [ $((k % 2)) -eq 0 ]; then top0=0 top1=$lift; else top0=$lift top1=0; fi
    convert "$work/shaded.png" -crop ${cut_w}x${map_h}+$x0+0 +repage \
      -alpha set -virtual-pixel transparent -background none \
      -define distort:viewport=${map_w}x$((map_h + lift))+0+0 \
      -distort Affine "0,0 $x0,$top0  $cut_w,0 $((x0 + cut_w)),$top1  0,$map_h $x0,$((map_h + top0))" \
      "$work/panel$k.png"
    set -- "$@" "$work/panel$k.png"
    k=$((k + 1))
  done
  convert -background none "$@" -flatten "$work/folded.png"
}

# Prints where point $1,$2 of the flat map lands on the folded one.
folded_point() {
  k=$(($1 / panel_w))
  rise=$((lift * ($1 - k * panel_w) / panel_w))
  if [ $((k % 2)) -eq 0 ]; then
    echo "$1 $(($2 + rise))"
  else
    echo "$1 $(($2 + lift - rise))"
  fi
}

# Prints ImageMagick draw primitives for the compass rose's star, centred on
# $1,$1: four long cardinal points over four short intercardinal ones, each
# split into a light and a dark half; north is red.
star_primitives() {
  awk -v c="$1" -v long="$2" -v short="$3" -v waist="$4" \
    -v navy="$navy" -v navy_light="$navy_light" -v steel="$steel" \
    -v red="$red" -v red_dark="$red_dark" 'BEGIN {
    pi = atan2(0, -1)
    for (pass = (short > 0 ? 0 : 1); pass < 2; pass++) {
      for (k = 0; k < 4; k++) {
        a = (pass == 0 ? 45 : 0) + 90 * k
        len = (pass == 0 ? short : long)
        light = (pass == 0 ? steel : navy_light)
        dark = (pass == 0 ? navy_light : navy)
        if (pass == 1 && k == 0) { light = red; dark = red_dark }
        tx = c + len * sin(a * pi / 180); ty = c - len * cos(a * pi / 180)
        lx = c + waist * sin((a - 45) * pi / 180); ly = c - waist * cos((a - 45) * pi / 180)
        rx = c + waist * sin((a + 45) * pi / 180); ry = c - waist * cos((a + 45) * pi / 180)
        printf "fill %s polygon %.2f,%.2f %.2f,%.2f %.2f,%.2f\n", light, c, c, tx, ty, lx, ly
        printf "fill %s polygon %.2f,%.2f %.2f,%.2f %.2f,%.2f\n", dark, c, c, tx, ty, rx, ry
      }
    }
  }'
}

# Prints ticks every 15 degrees on a ring of radius $2..$3 around $1,$1,
# skipping the four cardinal directions where the letters sit.
tick_primitives() {
  awk -v c="$1" -v r0="$2" -v r1="$3" 'BEGIN {
    pi = atan2(0, -1)
    for (a = 0; a < 360; a += 15) {
      if (a % 90 == 0) continue
      s = sin(a * pi / 180); k = cos(a * pi / 180)
      r = (a % 45 == 0) ? r0 : r0 + (r1 - r0) / 2
      printf "line %.2f,%.2f %.2f,%.2f\n", c + r * s, c - r * k, c + r1 * s, c - r1 * k
    }
  }'
}

# The compass rose laid on the map: a navy bezel with the four letters, a
# light dial and the star.
compass_rose() {
  size=400
  c=200
  # Debian's ImageMagick policy refuses "@file" arguments, hence inline.
  star=$(star_primitives $c 148 96 26)
  ticks=$(tick_primitives $c 118 134)
  convert -size ${size}x$size xc:none \
    -fill "$navy" -draw "circle $c,$c $c,$((c - 190))" \
    -fill "$paper" -draw "circle $c,$c $c,$((c - 152))" \
    -fill none -stroke "$gold" -strokewidth 3 \
    -draw "circle $c,$c $c,$((c - 158))" \
    -stroke "$steel" -strokewidth 2 -draw "circle $c,$c $c,$((c - 110))" \
    -stroke "$navy_light" -strokewidth 3 -draw "$ticks" \
    -stroke none -draw "$star" \
    -fill "$gold" -stroke "$gold_dark" -strokewidth 3 \
    -draw "circle $c,$c $c,$((c - 14))" \
    -stroke none -fill white -font "$font" -pointsize 30 -gravity center \
    -annotate +0-171 N -annotate +171+0 E -annotate +0+171 S \
    -annotate -171+0 W \
    "$work/rose.png"
}

# A red map pin with its shadow, drawn at twice its size like the rest.
map_pin() {
  convert -size 90x130 xc:none \
    -fill '#00000040' -draw 'ellipse 45,120 20,7 0,360' -blur 0x3 \
    -fill "$red" -stroke "$red_dark" -strokewidth 3 \
    -draw "path 'M 45,118 C 36,92 12,72 12,45 A 33,33 0 1 1 78,45 C 78,72 54,92 45,118 Z'" \
    -fill white -stroke none -draw 'circle 45,45 45,31' \
    "$work/pin.png"
}

logo() {
  height_field
  terrain
  folded_map
  compass_rose
  map_pin
  # The pin's tip, at 45,118 in its picture, marks the trail's summit.
  # shellcheck disable=SC2046 # the two coordinates become $1 and $2
  set -- $(folded_point $summit_x $summit_y)
  # Laid out at 980x984, twice the logo's size.
  convert -size 980x984 xc:white \
    \( "$work/folded.png" "$work/pin.png" -geometry +$(($1 - 45))+$(($2 - 118)) \
       -composite -resize 800x \
       \( +clone -background "$navy" -shadow 30x14+10+18 \) \
       +swap -background none -layers merge +repage \) \
    -geometry +40+110 -compose over -composite \
    \( "$work/rose.png" -resize 360x \
       \( +clone -background "$navy" -shadow 35x12+8+14 \) \
       +swap -background none -layers merge +repage \) \
    -geometry +580+560 -composite \
    -resize 490x492! -strip -interlace none -sampling-factor 2x2 \
    -colorspace sRGB -type TrueColor -quality 85 "$out/logo.jpg"
}

# The maker's badge at 512x512 for the 256-pixel icon: a navy bezel with a
# gold line round a disc of the topographic map, and the compass star on it.
badge_large() {
  star=$(star_primitives 256 150 84 30)
  convert -size 512x512 xc:none \
    -fill "$navy" -draw 'circle 256,256 256,4' \
    \( "$work/terrain.png" -crop 440x440+120+40 +repage -resize 416x416 \
       \( -size 416x416 xc:black -fill white -draw 'circle 208,208 208,0' \) \
       -alpha off -compose copy_opacity -composite \) \
    -geometry +48+48 -compose over -composite \
    -fill none -stroke "$gold" -strokewidth 6 -draw 'circle 256,256 256,37' \
    -stroke "${navy}66" -strokewidth 10 -draw "$star" \
    -stroke none -draw "$star" \
    -fill "$gold" -stroke "$gold_dark" -strokewidth 5 \
    -draw 'circle 256,256 256,236' \
    "$work/badge-512.png"
}

# The badge redrawn for 16, 32 and 48 pixels, where a scaled-down copy of
# the large one turns to mush: a bezel of whole pixels, a plain map with two
# hills, a lake and a river, and a bolder star. Drawn at eight times the size
# and averaged down, so edges that sit on pixel boundaries stay sharp.
# Arguments: size, bezel width, star's long and short points, star's waist,
# hub radius, all in pixels of the final size; a short point of 0 leaves out
# the intercardinal points, a hub of 0 the hub and the map's details.
badge_small() {
  n=$1
  s=$((8 * n))
  c=$((4 * n))
  star=$(star_primitives $c $(($3 * 8)) $(($4 * 8)) $(($5 * 8)))
  map=$(awk -v n="$n" -v hub="$6" -v contour="$contour" -v hill="$hill" \
    -v hilltop="$hilltop" -v water="$water" -v water_dark="$water_dark" 'BEGIN {
    u = n / 4            # one unit of a 32-unit design, in drawing pixels
    p = 8                # one final pixel, in drawing pixels
    c = 4 * n
    printf "fill %s stroke none ellipse %g,%g %g,%g 0,360\n", water, 10 * u, 24 * u, 6 * u, 4 * u
    if (hub == 0) exit
    # Two hills, each a pale and a darker tint inside its contour lines.
    printf "stroke %s stroke-width %g\n", contour, p
    printf "fill %s ellipse %g,%g %g,%g 0,360\n", hill, 10.5 * u, 11.5 * u, 7 * u, 5.5 * u
    printf "fill %s ellipse %g,%g %g,%g 0,360\n", hilltop, 10 * u, 11 * u, 3.5 * u, 2.5 * u
    printf "fill %s ellipse %g,%g %g,%g 0,360\n", hill, 23 * u, 21 * u, 5 * u, 4 * u
    printf "fill %s ellipse %g,%g %g,%g 0,360\n", hilltop, 23.5 * u, 20.5 * u, 2 * u, 1.5 * u
    printf "fill none\n"
    printf "stroke %s stroke-linejoin round path \x27M %g,%g C %g,%g %g,%g %g,%g\x27\n", water_dark, 14 * u, 23 * u, 18 * u, 18 * u, 15 * u, 9 * u, 24 * u, 2 * u
  }')
  # With a hub comes a one-pixel gold line in the middle of the bezel.
  hub=""
  if [ "$6" -gt 0 ]; then
    hub="fill none stroke $gold stroke-width 8 circle $c,$c $c,$((4 * $2))
      fill $gold stroke $gold_dark stroke-width 4 circle $c,$c $c,$((c - 8 * $6))"
  fi
  convert -size ${s}x$s xc:none \
    -fill "$navy" -draw "circle $c,$c $c,0" \
    -fill "$meadow" -draw "circle $c,$c $c,$((8 * $2))" \
    \( -size ${s}x$s xc:none -draw "$map" \
       \( -size ${s}x$s xc:none -fill white \
          -draw "circle $c,$c $c,$((8 * $2))" \) \
       -compose dst_in -composite \) -compose over -composite \
    -draw "$star $hub" \
    "$work/badge-$n-big.png"
  convert "$work/badge-$n-big.png" -filter box -resize ${n}x$n "$work/badge-$n.png"
  # Also sampled without smoothing, for 16 colours: the blends along edges
  # have no good match among so few.
  convert "$work/badge-$n-big.png" -sample ${n}x$n "$work/badge-$n-aliased.png"
}

# Writes each size as raw pixels, with alpha, reduced to 255 colours, and
# mapped onto 15 colours of the palette (a palette chosen by ImageMagick for
# so few colours turns the north point brown), and has scripts/make-ico.py
# pack them; it keeps the palette's first entry for transparency. Transparent
# parts are filled with the bezel's navy first, so they cost no colour. Only
# the large picture is dithered: on small ones the dots look like dirt, and
# their 16-colour entries start from the unsmoothed badge.
icon() {
  convert -size 1x1 xc:"$navy" xc:"$navy_light" xc:"$steel" xc:"$red" \
    xc:"$red_dark" xc:"$gold" xc:"$gold_dark" xc:"$contour" xc:"$water" \
    xc:"$water_dark" xc:"$meadow" xc:"$hill" xc:"$hilltop" xc:"$lowland" \
    xc:"$woods_pale" +append "$work/palette-15.png"
  convert "$work/badge-512.png" -resize 256x256 "$work/badge-256.png"
  for n in 16 32 48 256; do
    if [ $n -eq 256 ]; then
      dither='-dither FloydSteinberg'
      aliased="$work/badge-256.png"
    else
      dither=+dither
      aliased="$work/badge-$n-aliased.png"
    fi
    convert "$work/badge-$n.png" -depth 8 "rgba:$work/$n.rgba"
    # shellcheck disable=SC2086 # $dither is one or two arguments
    convert "$work/badge-$n.png" -background "$navy" -alpha remove \
      $dither -colors 255 -depth 8 "rgb:$work/$n-8.rgb"
    # shellcheck disable=SC2086
    convert "$aliased" -background "$navy" -alpha remove \
      $dither -remap "$work/palette-15.png" -depth 8 "rgb:$work/$n-4.rgb"
  done
  python3 "$repo/scripts/make-ico.py" "$out/app.ico" "$work" 16 32 48 256
  python3 "$repo/scripts/make-ico.py" --list "$out/app.ico"
  icotool --list "$out/app.ico"
  # The command-line tool shows its icon in file lists only: the small picture with its alpha
  # channel and the large one with a palette cost 3.3 KB, where the installer's 12 cost 117 KB.
  python3 "$repo/scripts/make-ico.py" --pick "$out/talvor-apply.ico" "$out/app.ico" 16:32 32:8
  python3 "$repo/scripts/make-ico.py" --list "$out/talvor-apply.ico"
}

logo
badge_large
badge_small 16 2 6 0 2 0
badge_small 32 3 11 6 3 2
badge_small 48 4 15 8 4 3
icon
