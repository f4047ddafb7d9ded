#!/bin/sh
# Makes src/sim/few_sides_table.cpp again: the laws of 4 to 29 sides, built
# arc by arc. Run it after a change to src/sim/split_arc_law.*; it takes a
# few minutes on two cores. Then rebuild and run the tests.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target make_few_sides_table -j"$(nproc)"
build/src/sim/make_few_sides_table src/sim/few_sides_table.cpp.new
mv src/sim/few_sides_table.cpp.new src/sim/few_sides_table.cpp
echo "wrote src/sim/few_sides_table.cpp"
