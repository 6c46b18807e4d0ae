# SPDX-License-Identifier: MIT
# What the window shows, checked in a 1280x720 image of its contents; sourced
# by the window tests after tests/lib/check.sh.
#
#   count IMAGE GEOMETRY COLOUR   pixels of exactly COLOUR in GEOMETRY
#   scene_checks IMAGE [LABEL]    the checks, each named with LABEL before it
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
