#include "graph/data_file.hpp"

#include <algorithm>
#include <cstddef>
#include <stdexcept>

#include "text/line.hpp"

namespace polygons::graph {
namespace {

void check_sizes(int n_min, int n_max, int nz, std::size_t t_size, std::size_t z_size) {
  if (n_max < n_min) return;
  const auto rows = static_cast<std::size_t>(static_cast<long long>(n_max) - n_min + 1);
  const auto stride = static_cast<std::size_t>(std::max(nz, 0));
  if (t_size < rows || z_size < rows * stride) {
    throw std::invalid_argument("data_to_file: vectors shorter than the row range");
  }
}

void write_rows(text::LineSink& unit, int n_min, int n_max, int nz, int m,
                std::span<const double> t, std::span<const double> z) {
  for (long long k = n_min; k <= n_max; ++k) {
    const auto row = static_cast<std::size_t>(k - n_min);
    text::Line line;
    line.blanks(1).E3(t[row], 20, 9);
    for (int j = 0; j < m; ++j) line.E3(z[row * nz + j], 20, 9);
    text::put(unit, line);
  }
}

void list_rows(text::LineSink& out, int n_min, int n_max, int nz, int m,
               std::span<const double> t, std::span<const double> z) {
  text::put(out, text::Line().lit(" n_min, _max:").d(n_min, 8).d(n_max, 8));
  text::put(out, text::Line().blanks(19).lit("t,").blanks(8).lit("z('s):"));
  for (long long k = n_min; k <= n_max; ++k) {
    const auto row = static_cast<std::size_t>(k - n_min);
    text::Line line;
    line.blanks(1).d(k, 6).blanks(3).G(t[row], 15, 7);
    for (int j = 0; j < m; ++j) line.G(z[row * nz + j], 15, 7);
    text::put(out, line);
  }
}

}  // namespace

void data_to_file(text::LineSink& unit, int n_min, int n_max, int nz,
                  std::span<const double> t, std::span<const double> z, int show,
                  text::LineSink& out) {
  check_sizes(n_min, n_max, nz, t.size(), z.size());
  const int m = std::clamp(nz, 0, NZMAX);
  text::put(unit, text::Line().lit("#Result vectors").d(nz, 3));
  write_rows(unit, n_min, n_max, nz, m, t, z);
  if (show == 0) return;
  list_rows(out, n_min, n_max, nz, m, t, z);
}

}  // namespace polygons::graph
