// Whole runs of the built program, compared line for line with the report
// they must give: everything but the lines that tell the time.

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <set>
#include <string>
#include <vector>

#include "graph/data_file.hpp"
#include "run/report.hpp"
#include "sim/class_fit.hpp"
#include "sim/histogram.hpp"
#include "support/files.hpp"
#include "support/program_runner.hpp"
#include "support/report_lines.hpp"

namespace polygons::run {
namespace {

namespace fs = std::filesystem;
using polygons::testing::directory_entries;
using polygons::testing::example_file;
using polygons::testing::read_file;
using polygons::testing::report_lines;
using polygons::testing::run_polygons;
using polygons::testing::run_request;
using polygons::testing::run_result;

#ifdef POLYGONS_SANITIZED
constexpr const char* kManyChunksTrials = "4e5";
#else
constexpr const char* kManyChunksTrials = "3e6";
#endif

const std::string kBanner =
    " *** Simulation of random polygons ***                             (Jan-2016, QZ)\n"
    "                                                                       [26_22:53]\n";
const std::string kRuler = " ----------------------------------------+---------------------------------------";
const std::string kRangeOfTriangles = " Extreme values,    0.000       5.196    | 0, 2 n R SIN(Pi/n)";

// Sides 3, radius 1, 1000 trials from seed 1 in 11 classes, listed.
const std::string kWorkedInput = "3\n1\n1000 1\n11\n1\n";
const std::string kWorkedReport =
    kBanner +
    " User login,       guest                 |\n"
    " .Sides,                            3    | (sides of polygom)\n"
    " Radius,                        1.000    | (radius of circle)\n"
    " N. of trials (N),              1.000E+03| = 1000; seed, 1\n"
    " klasses,                          11    |\n"
    " Show values ? {0|1}                1    |\n" +
    kRuler + "\n" + kRangeOfTriangles + "\n" +
    " Average, stdev,    3.806       1.093    |\n"
    " Mode x, y,         4.960      0.4573    |\n"
    " n_min, _max:       1      11\n"
    "                   t,        z('s):\n"
    "      1     0.2361887      1.0584755E-02   0.000000    \n"
    "      2     0.7085662      3.3871216E-02  1.6000000E-02\n"
    "      3      1.180944      4.8689873E-02  3.9000000E-02\n"
    "      4      1.653321      6.5625481E-02  7.0000000E-02\n"
    "      5      2.125699      0.1016136      0.1180000    \n"
    "      6      2.598076      0.1206662      0.1750000    \n"
    "      7      3.070454      0.1841747      0.2620000    \n"
    "      8      3.542831      0.2476833      0.3790000    \n"
    "      9      4.015209      0.3937529      0.5650000    \n"
    "     10      4.487586      0.4530275      0.7790000    \n"
    "     11      4.959964      0.4572614      0.9950000    \n";

class WholeRun : public ::testing::Test {
 protected:
  run_request request(const std::string& input, const std::string& user = "tester") const {
    run_request r;
    r.directory = dir_;
    r.input = input;
    r.user = user;
    return r;
  }

  polygons::testing::scratch_dir scratch_{"whole-run"};
  const fs::path dir_ = scratch_.make_run_directory();
};

// The report of a complete run without its clock lines; a run that ended
// otherwise fails the test.
std::string report_without_clock(const run_result& result) {
  EXPECT_TRUE(result.finished && result.exited) << "signal or time limit: " << result.status;
  EXPECT_EQ(result.status, 0) << result.err;
  const std::vector<std::string> lines = report_lines(result.out);
  EXPECT_TRUE(polygons::testing::has_end_report(lines)) << result.out;
  return polygons::testing::without_clock_lines(lines);
}

TEST_F(WholeRun, WorkedRunGivesTheWholeReport) {
  const run_result result = run_polygons(request(kWorkedInput + example_file("template.gp"), "guest"));
  EXPECT_EQ(report_without_clock(result), kWorkedReport);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(directory_entries(dir_ / "tmp"), std::set<std::string>{"gnu.png"})
      << "the chart stays, the scratch files go";
}

TEST_F(WholeRun, ReportIsTheSameForEveryThreadCount) {
  const std::string input = std::string("5\n1\n") + kManyChunksTrials + " 4711\n40\n1\n" + example_file("template.gp");
  std::string first;
  for (const char* threads : {"1", "2", "3", "8"}) {
    SCOPED_TRACE(std::string("OMP_NUM_THREADS=") + threads);
    run_request r = request(input);
    r.environment = {{"OMP_NUM_THREADS", threads}};
    const std::string report = report_without_clock(run_polygons(r));
    EXPECT_NE(report.find(" Mode x, y,"), std::string::npos) << report;
    if (first.empty()) {
      first = report;
    } else {
      EXPECT_EQ(report, first);
    }
  }
}

TEST_F(WholeRun, RangeLineDependsOnlyOnSidesAndRadius) {
  struct Case {
    const char* input;
    std::string range_line;
  };
  const Case cases[] = {
      {"3\n1\n1000 1\n11\n0\n", kRangeOfTriangles},
      {"3\n1\n20000 987\n3\n0\n", kRangeOfTriangles},
      {"3\n1\n5000 -5\n0\n0\n", kRangeOfTriangles},
      {"3\n1\n1000 0\n1\n0\n", kRangeOfTriangles},
      {"4\n2.5\n1000 1\n11\n0\n", " Extreme values,    0.000       14.14    | 0, 2 n R SIN(Pi/n)"},
      {"4\n2.5\n30000 42\n7\n0\n", " Extreme values,    0.000       14.14    | 0, 2 n R SIN(Pi/n)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    // Without a plotting line the run ends after the results.
    const run_result result = run_polygons(request(std::string(c.input) + "set terminal png\n"));
    EXPECT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> lines = report_lines(result.out);
    const auto ruler = std::find(lines.begin(), lines.end(), kRuler);
    ASSERT_NE(ruler, lines.end()) << result.out;
    ASSERT_NE(ruler + 1, lines.end()) << result.out;
    EXPECT_EQ(*(ruler + 1), c.range_line);
    EXPECT_EQ(lines.back(), " *** Error: No plotting directive ***");
  }
}

// The results file as read back: the named values in their order, then the
// class rows.
struct ResultsFile {
  std::vector<std::string> names;
  std::vector<double> values;
  std::vector<double> centre, density, cumulative, exact;
  std::vector<std::int64_t> count;

  double value(const std::string& name) const {
    const auto at = std::find(names.begin(), names.end(), name);
    EXPECT_NE(at, names.end()) << name;
    return at == names.end() ? 0.0 : values[at - names.begin()];
  }
};

template <typename Number>
Number number_of(const std::string& text) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  EXPECT_TRUE(error == std::errc() && end == text.data() + text.size()) << '"' << text << '"';
  return value;
}

std::vector<std::string> tab_fields(const std::string& line) {
  std::vector<std::string> fields(1);
  for (char c : line) {
    if (c == '\t') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

ResultsFile parse_results(const std::string& text) {
  const std::vector<std::string> lines = report_lines(text);
  const std::string kRowHeader = "centre\tcount\tdensity\tcumulative\texact_probability";
  const auto header = std::find(lines.begin(), lines.end(), kRowHeader);
  EXPECT_NE(header, lines.end()) << text;
  ResultsFile file;
  for (auto line = lines.begin(); line != header; ++line) {
    const std::vector<std::string> fields = tab_fields(*line);
    EXPECT_EQ(fields.size(), 2u) << *line;
    file.names.push_back(fields[0]);
    file.values.push_back(number_of<double>(fields.back()));
  }
  for (auto line = header + (header == lines.end() ? 0 : 1); line < lines.end(); ++line) {
    const std::vector<std::string> fields = tab_fields(*line);
    EXPECT_EQ(fields.size(), 5u) << *line;
    if (fields.size() != 5) continue;
    file.centre.push_back(number_of<double>(fields[0]));
    file.count.push_back(number_of<std::int64_t>(fields[1]));
    file.density.push_back(number_of<double>(fields[2]));
    file.cumulative.push_back(number_of<double>(fields[3]));
    file.exact.push_back(number_of<double>(fields[4]));
  }
  return file;
}

// The result lines and the histogram listing as the report would print them
// from the figures of the file.
std::string report_lines_from(const ResultsFile& file) {
  text::StringSink out;
  write_range_line(out, file.value("min"), file.value("max"));
  write_average_line(out, file.value("average"), file.value("stdev"));
  write_mode_line(out, file.value("mode_x"), file.value("mode_y"));
  std::vector<double> z;
  sim::result_z(file.density, file.cumulative, z);
  text::StringSink unused_data_file;
  graph::data_to_file(unused_data_file, 1, static_cast<int>(file.centre.size()), sim::kResultRows,
                      file.centre, z, 1, out);
  return out.text();
}

TEST_F(WholeRun, ResultsFileHoldsTheFiguresOfTheReport) {
  struct Case {
    const char* input;
    std::vector<std::string> args;
    std::vector<double> parameters;  // sides, radius, trials, seed, classes, show
    const char* why;
  };
  const Case cases[] = {
      {"3\n1\n1000 1\n11\n1\n", {}, {3, 1, 1000, 1, 11, 1}, "the worked run"},
      {"2\n-2.5\n30000 0\n0\n1\n", {"sub"}, {2, -2.5, 30000, 0, 16, 1},
       "negative radius, a seed from the clock, default classes, a subdirectory"},
  };
  const std::vector<std::string> names = {"polygons-results", "sides", "radius", "trials", "seed",
                                          "classes", "show", "width", "min", "max",
                                          "average", "stdev", "mode_x", "mode_y",
                                          "chi_square", "degrees_of_freedom", "p_value",
                                          "merged_classes", "merged_into"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const fs::path tmp = c.args.empty() ? dir_ / "tmp" : dir_ / "tmp" / c.args[0];
    fs::create_directories(tmp);
    std::ofstream(tmp / "results.tsv") << "left by an earlier run\n";
    run_request r = request(c.input + example_file("template.gp"));
    r.args = c.args;
    r.environment = {{"POLYGONS_RESULTS", "1"}};
    const std::string report = report_without_clock(run_polygons(r));
    EXPECT_EQ(directory_entries(tmp), (std::set<std::string>{"gnu.png", "results.tsv"}));

    const ResultsFile file = parse_results(read_file(tmp / "results.tsv"));
    EXPECT_EQ(file.names, names);
    ASSERT_EQ(file.values.size(), names.size());
    EXPECT_EQ(file.values.front(), 2.0) << "the version of the layout";
    EXPECT_EQ(std::vector<double>(file.values.begin() + 1, file.values.begin() + 7), c.parameters);
    EXPECT_NE(report.find(report_lines_from(file)), std::string::npos)
        << report << "\nnot found:\n" << report_lines_from(file);

    ASSERT_EQ(file.count.size(), static_cast<std::size_t>(file.value("classes")));
    EXPECT_EQ(std::accumulate(file.count.begin(), file.count.end(), std::int64_t{0}),
              static_cast<std::int64_t>(file.value("trials")));
    const double width = file.value("width");
    for (std::size_t k = 0; k < file.count.size(); ++k) {
      EXPECT_EQ(file.density[k], static_cast<double>(file.count[k]) / (file.value("trials") * width))
          << "class " << k + 1;
    }
    // The exact probabilities are those of the run's classes, and the test
    // that of its counts.
    const sim::ClassFit fit = sim::fit_run_classes(static_cast<std::int32_t>(c.parameters[0]),
                                                   c.parameters[1], file.count);
    EXPECT_EQ(file.exact, fit.probability);
    EXPECT_EQ(file.value("chi_square"), fit.test.chi_square);
    EXPECT_EQ(file.value("p_value"), fit.test.p_value);
    EXPECT_EQ(file.value("degrees_of_freedom"), fit.test.degrees_of_freedom);
    EXPECT_GT(fit.test.degrees_of_freedom, 0);
  }
}

}  // namespace
}  // namespace polygons::run
