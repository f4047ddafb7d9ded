#include "graph/data_file.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "worked_run_data.hpp"

namespace polygons::graph {
namespace {

struct Histogram {
  std::vector<double> centre;
  std::vector<double> result_z;  // density and cumulative fraction of one class side by side
};

// The class vectors of a triangle run with radius 1, 1000 trials in 11 classes.
Histogram worked_run() {
  const std::vector<int> counts = {5, 16, 23, 31, 48, 57, 87, 117, 186, 214, 216};
  const int n = 1000;
  const double perim_max = static_cast<double>(2 * 3) * 1.0 * std::sin(4.0 * std::atan(1.0) / 3);
  const double width = perim_max / static_cast<double>(counts.size());
  const double d = static_cast<double>(n) * width;
  Histogram h;
  double cumul = 0.0;
  for (std::size_t k = 0; k < counts.size(); ++k) {
    if (k > 0) cumul += counts[k];
    h.centre.push_back((static_cast<double>(k + 1) - 0.5) * width);
    h.result_z.push_back(static_cast<double>(counts[k]) / d);
    h.result_z.push_back(cumul / static_cast<double>(n));
  }
  return h;
}

TEST(DataToFile, WorkedRunTableByteForByte) {
  const Histogram h = worked_run();
  text::StringSink file;
  text::StringSink out;
  data_to_file(file, 1, 11, 2, h.centre, h.result_z, 0, out);
  EXPECT_EQ(file.text(), kWorkedRunDataFile);
  EXPECT_EQ(out.text(), "") << "show 0 lists nothing";
}

TEST(DataToFile, ListingOfWorkedRunWithShow) {
  const Histogram h = worked_run();
  text::StringSink file;
  text::StringSink out;
  data_to_file(file, 1, 11, 2, h.centre, h.result_z, 1, out);
  const std::string listing = out.text();
  EXPECT_EQ(listing.substr(0, listing.find('\n', listing.find('\n') + 1) + 1),
            " n_min, _max:       1      11\n"
            "                   t,        z('s):\n");
  EXPECT_NE(listing.find("\n      1     0.2361887      1.0584755E-02   0.000000    \n"),
            std::string::npos)
      << listing;
  EXPECT_NE(listing.find("\n     11      4.959964      0.4572614      0.9950000    \n"),
            std::string::npos)
      << listing;
  std::size_t lines = 0;
  for (std::size_t at = 0; (at = listing.find('\n', at)) != std::string::npos; ++at) ++lines;
  EXPECT_EQ(lines, 13u);

  text::StringSink quiet_file;
  text::StringSink quiet_out;
  data_to_file(quiet_file, 1, 11, 2, h.centre, h.result_z, 0, quiet_out);
  EXPECT_EQ(file.text(), quiet_file.text()) << "the file does not depend on show";
}

TEST(DataToFile, ListingLayoutOfOneRow) {
  const std::vector<double> t = {0.5};
  const std::vector<double> z = {0.0625, 0.0};
  text::StringSink file;
  text::StringSink out;
  data_to_file(file, 1, 1, 2, t, z, -3, out);
  EXPECT_EQ(file.text(),
            "#Result vectors  2\n"
            "     0.500000000E+000    0.625000000E-001    0.000000000E+000\n");
  EXPECT_EQ(out.text(),
            " n_min, _max:       1       1\n"
            "                   t,        z('s):\n"
            "      1     0.5000000      6.2500000E-02   0.000000    \n");
}

TEST(DataToFile, EmptyRangeWritesOnlyHeadings) {
  text::StringSink file;
  text::StringSink out;
  data_to_file(file, 1, 0, 2, {}, {}, 1, out);
  EXPECT_EQ(file.text(), "#Result vectors  2\n");
  EXPECT_EQ(out.text(),
            " n_min, _max:       1       0\n"
            "                   t,        z('s):\n");
}

TEST(DataToFile, NegativeValuesAndOtherIndexRange) {
  const std::vector<double> t = {-12.5, 12.5};
  const std::vector<double> z = {-1.0, 0.0, 2.0, 100.0};
  text::StringSink file;
  text::StringSink out;
  data_to_file(file, -1, 0, 2, t, z, 1, out);
  EXPECT_EQ(file.text(),
            "#Result vectors  2\n"
            "    -0.125000000E+002   -0.100000000E+001    0.000000000E+000\n"
            "     0.125000000E+002    0.200000000E+001    0.100000000E+003\n");
  EXPECT_NE(out.text().find("\n     -1     -12.50000      -1.000000       0.000000    \n"),
            std::string::npos)
      << out.text();
  EXPECT_NE(out.text().find(" n_min, _max:      -1       0\n"), std::string::npos);
}

TEST(DataToFile, OrdinatesBeyondNzmaxAreNotWritten) {
  const int nz = NZMAX + 2;
  const std::vector<double> t = {1.0};
  std::vector<double> z(nz, 1.0);
  z[NZMAX] = 7.0;
  z[NZMAX + 1] = 7.0;
  text::StringSink file;
  text::StringSink out;
  data_to_file(file, 1, 1, nz, t, z, 0, out);
  const std::string row = file.text().substr(file.text().find('\n') + 1);
  EXPECT_EQ(file.text().substr(0, file.text().find('\n')), "#Result vectors 52");
  EXPECT_EQ(row.size(), 1u + 20u * (1 + NZMAX) + 1u);
  EXPECT_EQ(row.find("0.700000000E+001"), std::string::npos);
}

TEST(DataToFile, RefusesVectorsShorterThanTheRange) {
  const std::vector<double> t = {1.0};
  const std::vector<double> z = {1.0, 2.0};
  text::StringSink file;
  text::StringSink out;
  EXPECT_THROW(data_to_file(file, 1, 2, 2, t, z, 0, out), std::invalid_argument);
  EXPECT_EQ(file.text(), "");
}

}  // namespace
}  // namespace polygons::graph
