# SPDX-License-Identifier: MIT
# Frame intervals of the real window over the recorded frames.
# usage: gnuplot -e "data='intervals.dat'; out='frame-intervals.png'" frame-intervals.gp
set terminal pngcairo size 1100,520 font "Sans,10"
set output out
set title "orvan-demo-window under Xvfb + llvmpipe: interval between presented frames (values above 100 ms are cut off)"
set xlabel "frame"
set ylabel "milliseconds"
set grid ytics lc rgb "#dddddd"
set key top right opaque box
set xrange [0:*]
set yrange [0:100]
plot data using 1:2 with lines lw 1.2 lc rgb "#1f77b4" title "interval, as shipped", \
     data using 1:3 with lines lw 1 lc rgb "#d62728" title "of which swap (Mesa renders, hands to X)", \
     data using 1:5 with lines lw 1 lc rgb "#ff7f0e" title "interval, diagnostic run with glibc trimming the heap", \
     1000.0/60 with lines dt 2 lw 1.5 lc rgb "#000000" title "1/60 s"
