# Frame intervals of the real window over the recorded frames.
# usage: gnuplot -e "data='intervals.dat'; out='frame-intervals.png'" frame-intervals.gp
set terminal pngcairo size 1100,520 font "Sans,10"
set output out
set title "orvan-demo-window under Xvfb + llvmpipe: interval between presented frames"
set xlabel "frame"
set ylabel "milliseconds"
set grid ytics lc rgb "#dddddd"
set key top right
set yrange [0:*]
plot data using 1:2 with lines lw 1.2 lc rgb "#1f77b4" title "interval", \
     data using 1:3 with lines lw 1 lc rgb "#d62728" title "swap (Mesa renders, hands to X)", \
     data using 1:4 with lines lw 1 lc rgb "#2ca02c" title "raylib WaitTime", \
     1000.0/60 with lines dt 2 lc rgb "#555555" title "1/60 s"
