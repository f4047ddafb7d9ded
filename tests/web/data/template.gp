set terminal png size 480,320
set title "Perimeter of random polygons"
set xlabel "Perimeter"
set ylabel "Density"
plot "gnudata.dat" \
     using 1:2 with boxes title "density"
