#include "results/write.hpp"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <type_traits>

#include "text/io.hpp"

namespace polygons::results {
namespace {

constexpr std::string_view kPartialSuffix = ".part";
constexpr std::size_t kBufferedText = 1 << 16;

text::FatalError io_failure(std::string_view what, const std::string& path, int err) {
  return text::FatalError(std::string(what) + " results file " + path + ": " + std::strerror(err),
                          text::kExitIoFailure);
}

// The shortest text that reads back to the same number; every NaN as "nan"
// (to_chars would write -nan for a NaN with its sign bit set).
template <typename Number>
void append_number(std::string& text, Number value) {
  if constexpr (std::is_floating_point_v<Number>) {
    if (std::isnan(value)) {
      text += "nan";
      return;
    }
  }
  char digits[32];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  text.append(digits, end);
}

std::string header_text(const ResultValues& values) {
  std::string text(kResultsVersionLine);
  text.push_back('\n');
  for_each_named_value(values, [&text](std::string_view name, auto value) {
    text.append(name).push_back('\t');
    append_number(text, value);
    text.push_back('\n');
  });
  text += class_header_line();
  text.push_back('\n');
  return text;
}

void append_class_row(std::string& text, const ResultClass& row) {
  const char* separator = "";
  for_each_column(row, [&](std::string_view, auto value) {
    text += separator;
    append_number(text, value);
    separator = "\t";
  });
  text.push_back('\n');
}

void write_text(std::FILE* file, std::string& text, const std::string& path) {
  if (std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
    throw io_failure("cannot write", path, errno);
  }
  text.clear();
}

void write_all(std::FILE* file, const std::string& path, const ResultValues& values,
               std::span<const double> centre, std::span<const std::int64_t> count,
               std::span<const double> result_z, std::span<const double> exact_probability) {
  std::string text = header_text(values);
  for (std::size_t k = 0; k < static_cast<std::size_t>(values.classes); ++k) {
    const double exact = exact_probability.empty() ? std::nan("") : exact_probability[k];
    append_class_row(text, {centre[k], count[k], result_z[2 * k], result_z[2 * k + 1], exact});
    if (text.size() >= kBufferedText) write_text(file, text, path);
  }
  write_text(file, text, path);
}

void check_sizes(const ResultValues& values, std::size_t centres, std::size_t counts,
                 std::size_t z_values, std::size_t probabilities) {
  const auto classes = static_cast<std::size_t>(values.classes > 0 ? values.classes : 0);
  if (centres < classes || counts < classes || z_values < 2 * classes ||
      (probabilities != 0 && probabilities < classes)) {
    throw std::invalid_argument("write_results_file: vectors shorter than the classes");
  }
}

}  // namespace

void discard_results_file(std::string_view workdir) {
  const std::string path = std::string(workdir) + std::string(kResultsName);
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    throw io_failure("cannot delete the earlier", path, errno);
  }
}

void write_results_file(std::string_view workdir, const ResultValues& values,
                        std::span<const double> centre, std::span<const std::int64_t> count,
                        std::span<const double> result_z,
                        std::span<const double> exact_probability) {
  check_sizes(values, centre.size(), count.size(), result_z.size(), exact_probability.size());
  const std::string path = std::string(workdir) + std::string(kResultsName);
  const std::string partial = path + std::string(kPartialSuffix);
  text::OpenFile file(std::fopen(partial.c_str(), "w"));
  if (!file) throw io_failure("cannot open", partial, errno);
  try {
    write_all(file.get(), partial, values, centre, count, result_z, exact_probability);
    if (std::fclose(file.release()) != 0) throw io_failure("cannot write", partial, errno);
    if (std::rename(partial.c_str(), path.c_str()) != 0) {
      throw io_failure("cannot rename " + partial + " to the", path, errno);
    }
  } catch (...) {
    std::remove(partial.c_str());
    throw;
  }
}

}  // namespace polygons::results
