#pragma once
// The private directory of each run under <workdir>/tmp/, named by a random
// id, and the files the service reads back from it: the chart, which it
// serves, the program's results, which it reads, and the report, which it
// keeps beside them for a page's data links.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace polygons::web {

// 128 random bits as 32 lower-case hexadecimal digits.
inline constexpr std::size_t kRunIdLength = 32;
inline constexpr std::string_view kChartName = "gnu.png";
// The program's report, written by the service once the run has ended.
inline constexpr std::string_view kReportName = "report.txt";
inline constexpr std::string_view kPngSignature = "\x89PNG\r\n\x1a\n";
// A chart is a few kilobytes; anything larger is not served.
inline constexpr std::size_t kMaxChartBytes = 16 * 1024 * 1024;

// A fresh id from std::random_device.
std::string new_run_id();

// True only for texts new_run_id can produce, so that an id taken from a URL
// can never name anything outside its own run directory.
bool is_run_id(std::string_view text);

// <workdir>/tmp: the directory the program resolves "./tmp/" to.
std::filesystem::path runs_root(const std::filesystem::path& workdir);

// <workdir>/tmp/<id>. `id` must satisfy is_run_id.
std::filesystem::path run_dir(const std::filesystem::path& workdir, std::string_view id);

// Creates the run directory; false (with `error`) when it exists already or
// cannot be made.
bool create_run_dir(const std::filesystem::path& workdir, std::string_view id, std::string& error);

// Removes the run directory and what is in it; an unknown id is ignored.
void remove_run_dir(const std::filesystem::path& workdir, std::string_view id);

// A file of the run directory: a regular file, not a link, read whole when it
// holds at most `max_bytes`. Empty, with why for the operator in `error`
// ("it is missing"), otherwise or when the id is not a run id.
std::optional<std::string> read_run_file(const std::filesystem::path& workdir, std::string_view id,
                                         std::string_view name, std::size_t max_bytes,
                                         std::string& error);

// Removes a file (not a directory) of the run directory; a missing one is
// ignored.
void remove_run_file(const std::filesystem::path& workdir, std::string_view id,
                     std::string_view name);

// Writes a new file of the run directory, not through a link, readable by
// its owner only; false, with why in `error`, when it exists already or
// cannot be written whole.
bool write_run_file(const std::filesystem::path& workdir, std::string_view id,
                    std::string_view name, std::string_view content, std::string& error);

// The chart of a run: a regular file, not a link, read whole. Empty when the
// id is not a run id or there is no such chart.
std::optional<std::string> read_chart(const std::filesystem::path& workdir, std::string_view id);

// Why the chart of a finished run cannot be shown ("the image is empty"), or
// empty when it is a regular file, not a link, that starts like a PNG image;
// such a chart is made readable by all, and its directory searchable.
std::string chart_fault(const std::filesystem::path& workdir, std::string_view id);

// Removes run directories last changed longer than `retention` ago, except
// those `in_use` claims. Only directories named like run ids are touched.
// Returns how many were removed. Never throws: what cannot be read or removed
// (or an `in_use` that throws) ends this sweep early or skips the entry.
std::size_t sweep_run_dirs(const std::filesystem::path& workdir, std::chrono::seconds retention,
                           const std::function<bool(std::string_view)>& in_use) noexcept;

// Removes the oldest run directories (by last change) until those of
// finished runs, all but those `in_use` claims, take at most `max_bytes` of
// disk (their own blocks and their files'): the runs in progress are bounded
// by their number. Returns how many were removed. Never throws, as
// sweep_run_dirs.
std::size_t trim_run_dirs(const std::filesystem::path& workdir, std::uintmax_t max_bytes,
                          const std::function<bool(std::string_view)>& in_use) noexcept;

}  // namespace polygons::web
