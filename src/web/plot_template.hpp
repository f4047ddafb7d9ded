#pragma once
// The plotting template the service sends to every run after the parameter
// lines.

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "web/fields.hpp"

namespace polygons::web {

// The template, read whole and ended by a newline; empty with `error` when
// unreadable, empty or larger than 64 KiB.
std::optional<std::string> read_template(const std::filesystem::path& path, std::string& error);

// The template with a dashed vertical line and a label at the exact mean,
// set just before its plotting directive: the first line that, within its
// first 512 bytes and after leading spaces, starts with "plot" or "splot"
// followed by a space or the line's end, as the program finds it. A template
// without such a line, or a mean that is not finite, leaves it as it is.
std::string with_exact_mean_line(std::string_view plot_template, double mean);

// The template with the exact density of each class drawn over the
// histogram as a line: the points (centre, density) as a data block before
// the plotting directive (where with_exact_mean_line finds it), and the line
// added to the end of the plotting command (the first line after the
// directive that does not end in a backslash). Points that are not finite
// are left out; without a directive, a line to add to, or any point, or when
// that line ends in a comment, the template stays as it is.
std::string with_exact_density_line(std::string_view plot_template, std::span<const double> centre,
                                    std::span<const double> density);

// The template a run of `request` is given: the exact density of the
// classes the program makes of it (with_exact_density_line) and the exact
// mean `mean` (with_exact_mean_line).
std::string run_template(std::string_view plot_template, const run_request& request, double mean);

}  // namespace polygons::web
