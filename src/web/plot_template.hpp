#pragma once
// The plotting template the service sends to every run after the parameter
// lines.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

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

}  // namespace polygons::web
