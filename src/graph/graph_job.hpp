#pragma once
// The graph job: the data file and the plotting script in the working
// directory, gnuplot run on them, the scratch files removed and the chart
// made readable for all.

#include <istream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "text/io.hpp"

namespace polygons::graph {

inline constexpr std::string_view GNUPLOT = "/usr/bin/gnuplot";
inline constexpr int IDATAFILE = 321;  // unit of the data file; the script is IDATAFILE + 1

// The working directory for the command-line arguments `args` (without the
// program name): "./tmp/", or with exactly one argument "./tmp/" + that
// argument without its trailing blanks + "/". Refuses (text::FatalError,
// kExitBadInput) an argument with a ".." component, which would lead out of
// ./tmp/, and one so long that the file paths in the directory would be cut.
// Call it before any trial runs.
std::string working_directory(const std::vector<std::string>& args);

// Ends the run (text::FatalError, kExitIoFailure) with the message of a
// failed opening of the data file when `workdir` is missing, not a
// directory, or not writable. Call it before any trial runs.
void require_writable_directory(std::string_view workdir);

// Starts `program` (gnuplot) with `argument` as its only argument (no shell
// is involved) and waits for it. The run goes on whatever happens, but when
// the program cannot be started, exits with a status other than 0 or is
// ended by a signal, one line on standard error says so, ending with "gnu.png
// may be missing or out of date".
void run_plotter(const std::string& program, const std::string& argument);

// Adds read permission for all to `path`, like chmod a+r; a failure is only
// reported on standard error.
void make_readable_for_all(const std::string& path);

// The graph job in `workdir` (as given by working_directory): writes
// gnudata.dat with data_to_file (rows n_min..n_max, nz vectors, listed on
// `out` when `ishow` is not 0), gnuload.dat with gnuload_make from the rest of
// `in`, runs gnuplot on the script while both files are open, deletes both,
// and makes gnu.png readable for all. May end the run: text::RunEnded when the
// template has no plotting directive (both files stay), text::FatalError when
// a file cannot be opened or written.
void www_graph(std::string_view workdir, int ishow, int n_min, int n_max, int nz,
               std::span<const double> centre, std::span<const double> result_z,
               std::istream& in, text::LineSink& out);

}  // namespace polygons::graph
