#pragma once
// The report on standard output as lines, and without the lines that tell
// the time, so that two runs can be compared.

#include <string>
#include <string_view>
#include <vector>

namespace polygons::testing {

// The lines of `text`, without their newlines; a last line without one counts too.
std::vector<std::string> report_lines(std::string_view text);

// Whether `lines` end with the end report: a line of two blanks, the start
// stamp again, the end stamp and the elapsed time.
bool has_end_report(const std::vector<std::string>& lines);

// The report of a complete run without its start stamp (the first line) and
// without the four lines of the end report, each line ending in a newline.
std::string without_clock_lines(const std::vector<std::string>& lines);

}  // namespace polygons::testing
