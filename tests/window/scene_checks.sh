# SPDX-License-Identifier: MIT
# What the window shows, checked in a 1280x720 image of its contents; sourced
# by the window tests after tests/lib/check.sh.
#
#   count IMAGE GEOMETRY COLOUR   pixels of exactly COLOUR in GEOMETRY
#   scene_checks IMAGE [LABEL]    the checks, each named with LABEL before it
#   contents_rect IMAGE           "X Y W H" of the window's contents in a
#                                 screenshot of the whole screen: the box around
#                                 the pixels of the scene's background colour,
#                                 which only the window shows
#   title_bar_checks IMAGE "X Y W H" ["CX CY"] [LABEL]
#                                 a title bar in that box of a screenshot with
#                                 the title, and a close button centred at CX CY
#
# Checks count pixels of an exact colour in a region of a screenshot taken
# about a second after the window appeared. llvmpipe draws the unlit spheres,
# the lines and raylib's bitmap font without filtering, so colours match
# exactly where nothing is blended over them; the scene moves, so the
# thresholds are lower bounds, about a third of what a typical frame shows.

count() {
    convert "$1" -crop "$2" +repage -alpha off -fill white -opaque "$3" -fill black +opaque white \
        -format '%[fx:round(mean*w*h)]' info:
}

scene_checks() {
    local shot=$1 l=${2:+$2: } n m bg lime orange red
    bg=$(count "$shot" 1280x60+0+80 "rgb(10,10,18)")
    check "${l}background above the scene ($bg of 76800)" test "$bg" -eq 76800
    n=$(count "$shot" 700x24+18+18 "rgb(120,200,255)")
    check "${l}title overlay at (20, 20) ($n px)" test "$n" -ge 1000
    m=$(count "$shot" 1280x720+0+0 "rgb(120,200,255)")
    check "${l}title colour nowhere else" test "$n" -eq "$m"
    n=$(count "$shot" 440x18+18+48 "rgb(180,180,180)")
    check "${l}device overlay at (20, 50) ($n px)" test "$n" -ge 500
    # Lime from 30 frames per second, orange from 15, red below: a loaded
    # machine or the sanitizer build may show any of them.
    lime=$(count "$shot" 80x24+1198+18 "rgb(0,158,47)")
    orange=$(count "$shot" 80x24+1198+18 "rgb(255,161,0)")
    red=$(count "$shot" 80x24+1198+18 "rgb(230,41,55)")
    check "${l}FPS counter at (1200, 20) ($lime lime, $orange orange, $red red px)" test $((lime + orange + red)) -ge 100
    n=$(count "$shot" 1280x620+0+100 "rgb(100,200,255)")
    check "${l}solid spheres ($n px)" test "$n" -ge 5000
    n=$(count "$shot" 1280x620+0+100 "rgb(255,180,50)")
    check "${l}wire cube ($n px)" test "$n" -ge 500
}

contents_rect() {
    # Opening (a 5x5 square) drops lone pixels of that colour elsewhere (in a
    # desktop's wallpaper); a black border of one pixel makes -trim cut to the
    # box, and the offset counts it.
    convert "$1" -alpha off -fill white -opaque "rgb(10,10,18)" -fill black +opaque white \
        -morphology Open Square:2 -bordercolor black -border 1 -trim -format '%X %Y %w %h' info: |
        awk '{ print $1 - 1, $2 - 1, $3, $4 }'
}

# The title is read with tesseract (OCR) from the bar scaled up three times,
# as grey: only "Orvan Engine" must be read exactly, since themes draw the
# title's em dash, slashes and brackets in ways OCR may misread; a bar with no
# text, or another text, fails. The close button is drawn if the 16x16 square
# at its centre is not plain: the standard deviation of its grey levels, 0 on
# a plain bar and about 0.25 with a cross drawn, must reach 0.05.
title_bar_checks() {
    local shot=$1 l=${4:+$4: } x y w h cx cy text sd
    read -r x y w h <<<"$2"
    text=$(convert "$shot" -crop "${w}x${h}+$x+$y" +repage -colorspace gray -resize 300% png:- |
        tesseract stdin stdout --psm 7 2>/dev/null | tr -s '\n' ' ')
    check "${l}title bar at ($x, $y) ${w}x${h} shows the title (read: ${text% })" grep -qF "Orvan Engine" <<<"$text"
    [ -n "${3:-}" ] || return 0
    read -r cx cy <<<"$3"
    sd=$(convert "$shot" -crop "16x16+$((cx - 8))+$((cy - 8))" +repage -colorspace gray \
        -format '%[fx:round(standard_deviation*1000)]' info:)
    check "${l}close button drawn at ($cx, $cy) (grey deviation $sd/1000)" test "$sd" -ge 50
}
