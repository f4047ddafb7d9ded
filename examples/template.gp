set terminal pngcairo size 960,600 enhanced font "DejaVu Sans,11"
set title "Random polygons on a circle: distribution of the perimeter" font ",14"
set xlabel "Perimeter"
set ylabel "Frequency density"
set y2label "Cumulative fraction"
set xrange [0:*]
set yrange [0:*]
set y2range [0:1]
set ytics nomirror
set y2tics 0.2 format "%.1f"
set mxtics 2
set grid xtics ytics lc rgb "#d0d0d0"
set key top left box opaque
set style fill solid 0.55 border lc rgb "#2f5f98"
set boxwidth 0.92 relative
plot "gnudata.dat" \
     using 1:2 with boxes lc rgb "#4a7ab8" title "density", \
     "" using 1:3 axes x1y2 with linespoints lw 2 pt 7 ps 0.6 lc rgb "#c0392b" title "cumulative fraction"
