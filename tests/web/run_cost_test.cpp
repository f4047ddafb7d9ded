#include "web/run_cost.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace polygons::web {
namespace {

// Round figures, so that the expected values can be worked by hand.
const run_costs kCosts{0.2, 1e-5, 1e-9, 4e-9};

TEST(RunCost, CountsTheFixedPartTheClassesAndTheTrials) {
  struct estimate_case {
    run_request request;
    double seconds;
  };
  const estimate_case cases[] = {
      {{3, 1.0, 1000, 1, 10000, 0}, 0.2 + 0.1 + 1000 * 13e-9},
      {{3, 1.0, 1000, 1, 10000, 1}, 0.2 + 0.2 + 1000 * 13e-9},  // listed too
      {{3, 1.0, 1e6, 1, 0, 0}, 0.2 + 1e6 * 13e-9},
      {{1, 1.0, 1e8, 1, 0, 0}, 0.2 + 1e8 * 5e-9},
      {{10000, 1.0, 1e5, 1, 0, 0}, 0.2 + 1e5 * 40001e-9},
  };
  for (const estimate_case& c : cases) {
    EXPECT_NEAR(estimated_seconds(c.request, kCosts), c.seconds, 1e-12)
        << c.request.sides << " sides, " << c.request.trials << " trials, "
        << c.request.classes << " classes";
  }
}

struct budget_case {
  int sides;
  int classes;
  long long time_limit;
  double trials;
  bool fits;
  long long largest;
};

// Estimated at up to a third of the time limit, at most 1e8 trials.
TEST(RunCost, RefusesTrialsThatCannotFinishNamingTheLargestAllowed) {
  const budget_case cases[] = {
      {3, 0, 60, 1e8, true, 100000000},  // capped by the program's own limit
      {100, 0, 60, 49376558, true, 49376558},
      {100, 0, 60, 49376559, false, 49376558},
      {10000, 0, 60, 494987, true, 494987},
      {10000, 0, 60, 1e8, false, 494987},
      {10000, 10000, 60, 492487, true, 492487},
      {10000, 10000, 60, 492488, false, 492487},
      {10000, 0, 1, 3333, true, 3333},
      {10000, 0, 1, 3334, false, 3333},
  };
  for (const budget_case& c : cases) {
    const std::chrono::seconds limit(c.time_limit);
    EXPECT_EQ(largest_trials(c.sides, c.classes, limit, kCosts), c.largest)
        << c.sides << " sides, " << c.time_limit;
    run_request request;
    request.sides = c.sides;
    request.classes = c.classes;
    request.trials = c.trials;
    field_error error;
    EXPECT_EQ(fits_time_limit(request, limit, kCosts, error), c.fits)
        << c.sides << " " << c.trials;
    if (!c.fits) {
      EXPECT_EQ(error.field, "trials");
      EXPECT_EQ(error.message.rfind("trials: " + std::to_string(std::llround(c.trials)) +
                                        " trials of " + std::to_string(c.sides) + " sides",
                                    0),
                0u)
          << error.message;
      EXPECT_NE(error.message.find("at most " + std::to_string(c.largest) + " trials"),
                std::string::npos)
          << error.message;
    }
  }
  const std::string note = trials_limit_note(std::chrono::seconds(60), kCosts);
  EXPECT_NE(note.find("at most 100000000 trials for 3 sides, 49376558 for 100, 4948762 for 1000 "
                      "and 494987 for 10000"),
            std::string::npos)
      << note;
  EXPECT_NE(note.find("0.2 s, 10 us a class, 1 ns a trial, 4 ns a side and trial"),
            std::string::npos)
      << note;
  EXPECT_EQ(largest_trials(10000, 0, std::chrono::seconds(1), run_costs{1.0, 0, 0, 1e-9}), 0)
      << "no trials fit when the fixed part alone is beyond the budget";
}

// A machine whose runs take `truth` seconds; the first run of all pays
// `cold` more for loading the program. The longest run goes to `longest`.
run_timer machine(const run_costs& truth, double cold = 0, double small_sides_factor = 1,
                  std::shared_ptr<double> longest = std::make_shared<double>()) {
  auto first = std::make_shared<bool>(true);
  return [=](const run_request& request) -> std::optional<double> {
    run_costs costs = truth;
    if (request.sides < 10) costs.per_side_trial *= small_sides_factor;
    const double seconds =
        estimated_seconds(request, costs) + (std::exchange(*first, false) ? cold : 0);
    *longest = std::max(*longest, seconds);
    return seconds;
  };
}

TEST(RunCost, CalibrationMeasuresEachFigureFromTheTimedRuns) {
  struct machine_case {
    const char* what;
    run_timer timer;
    run_costs expected;
  };
  const machine_case cases[] = {
      {"a fast machine", machine({0.12, 7e-6, 0.5e-9, 2.2e-9}), {0.12, 7e-6, 0.5e-9, 2.2e-9}},
      {"a slow machine, slow to start", machine({0.5, 2e-5, 3e-9, 9e-9}, 0.4),
       {0.5, 2e-5, 3e-9, 9e-9}},
      // Small polygons at a third of the cost a side: a negative intercept,
      // taken as none, and the rate of the large polygons for every side.
      {"cheaper small polygons", machine({0.15, 7e-6, 0, 3e-9}, 0, 1.0 / 3),
       {0.15, 7e-6, 0, 3e-9}},
  };
  for (const machine_case& c : cases) {
    std::string error;
    std::optional<run_costs> got = calibrated_costs(c.timer, error);
    ASSERT_TRUE(got) << c.what << ": " << error;
    EXPECT_NEAR(got->fixed, c.expected.fixed, 1e-9) << c.what;
    EXPECT_NEAR(got->per_class, c.expected.per_class, 1e-12) << c.what;
    EXPECT_NEAR(got->per_trial, c.expected.per_trial, 1e-14) << c.what;
    EXPECT_NEAR(got->per_side_trial, c.expected.per_side_trial, 1e-14) << c.what;
  }
}

// The runs of more and more trials stop once measured: on a machine ten
// times slower, no run takes much longer.
TEST(RunCost, CalibrationRunsFewerTrialsOnASlowerMachine) {
  for (double slower : {1.0, 3.0, 10.0}) {
    auto longest = std::make_shared<double>();
    std::string error;
    const run_costs truth{0.1, 7e-6, 0, 2e-9 * slower};
    ASSERT_TRUE(calibrated_costs(machine(truth, 0, 1, longest), error)) << error;
    EXPECT_LT(*longest, 0.1 + 4 * 0.3) << slower << " times slower";
  }
}

TEST(RunCost, CalibrationFailsWhenARunFailsOrTheTrialsTakeNoTime) {
  std::string error;
  int runs = 0;
  EXPECT_FALSE(calibrated_costs(
      [&](const run_request&) -> std::optional<double> {
        return ++runs == 3 ? std::nullopt : std::optional<double>(0.1);
      },
      error));
  EXPECT_EQ(runs, 3) << "stops at the first failed run";
  EXPECT_NE(error.find("did not finish"), std::string::npos) << error;
  EXPECT_FALSE(calibrated_costs([](const run_request&) { return std::optional<double>(0.1); },
                                error));
  EXPECT_EQ(error, "the trials took no measurable time");
}

}  // namespace
}  // namespace polygons::web
