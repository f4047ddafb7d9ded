#pragma once
// The worked example of the parameter reader: its input and the lines it
// gives after the login line.

namespace polygons::params {

inline constexpr const char* kWorkedExampleInput = "5\n1\n1e6 4711\n0\n0\n";
inline constexpr const char* kWorkedExampleLines =
    " .Sides,                            5    | (sides of polygom)\n"
    " Radius,                        1.000    | (radius of circle)\n"
    " N. of trials (N),              1.000E+06| = 1000000; seed, 4711\n"
    " klasses,                          21    |\n"
    " Show values ? {0|1}                0    |\n"
    " ----------------------------------------+---------------------------------------\n";

}  // namespace polygons::params
