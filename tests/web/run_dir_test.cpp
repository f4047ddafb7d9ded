#include "web/run_dir.hpp"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include "web_test_support.hpp"

namespace polygons::web {
namespace {

namespace fs = std::filesystem;
using testing::scratch_dir;
using testing::write_file;

TEST(RunId, FreshIdsMatchThePatternAndDiffer) {
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    std::string id = new_run_id();
    EXPECT_TRUE(is_run_id(id)) << id;
    EXPECT_TRUE(seen.insert(id).second) << "repeated " << id;
  }
}

TEST(RunId, RefusesAnythingThatCouldLeaveTheRunDirectory) {
  const std::string good(32, 'a');
  const std::string cases[] = {
      "",
      std::string(31, 'a'),
      std::string(33, 'a'),
      std::string(32, 'A'),
      std::string(30, 'a') + "..",
      std::string(29, 'a') + "/..",
      std::string(31, 'a') + "g",
      std::string(31, 'a') + "/",
      std::string(31, 'a') + '\0',
      "%2e%2e" + std::string(26, 'a'),
  };
  EXPECT_TRUE(is_run_id(good));
  for (const std::string& id : cases) EXPECT_FALSE(is_run_id(id)) << id;
}

class RunDirectory : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directory(runs_root(scratch_.path())); }
  const fs::path& workdir() const { return scratch_.path(); }
  scratch_dir scratch_;
};

TEST_F(RunDirectory, IsCreatedOnceUnderTmpAndRemovedWithItsFiles) {
  std::string id = new_run_id();
  std::string error;
  ASSERT_TRUE(create_run_dir(workdir(), id, error)) << error;
  EXPECT_EQ(run_dir(workdir(), id), workdir() / "tmp" / id);
  EXPECT_TRUE(fs::is_directory(workdir() / "tmp" / id));
  EXPECT_FALSE(create_run_dir(workdir(), id, error)) << "a second run must not share it";
  EXPECT_FALSE(error.empty());

  write_file(run_dir(workdir(), id) / "gnu.png", "png");
  remove_run_dir(workdir(), id);
  EXPECT_FALSE(fs::exists(run_dir(workdir(), id)));
}

TEST_F(RunDirectory, RefusesToCreateOrRemoveWhatIsNotARunId) {
  std::string error;
  EXPECT_FALSE(create_run_dir(workdir(), "..", error));
  fs::create_directory(workdir() / "tmp" / "keep");
  remove_run_dir(workdir(), "keep");
  remove_run_dir(workdir(), "../tmp");
  EXPECT_TRUE(fs::exists(workdir() / "tmp" / "keep"));
}

TEST_F(RunDirectory, ServesOnlyARegularChartInsideTheRunDirectory) {
  std::string id = new_run_id();
  std::string error;
  ASSERT_TRUE(create_run_dir(workdir(), id, error));
  EXPECT_FALSE(read_chart(workdir(), id).has_value()) << "no chart yet";
  write_file(run_dir(workdir(), id) / "gnu.png", "\x89PNG bytes");
  ASSERT_TRUE(read_chart(workdir(), id).has_value());
  EXPECT_EQ(*read_chart(workdir(), id), "\x89PNG bytes");
  EXPECT_FALSE(read_chart(workdir(), "../" + id.substr(3)).has_value());

  // A chart that is a link, or a run directory that is a link, is not followed.
  write_file(workdir() / "secret", "secret");
  std::string linked_chart = new_run_id();
  ASSERT_TRUE(create_run_dir(workdir(), linked_chart, error));
  fs::create_symlink(workdir() / "secret", run_dir(workdir(), linked_chart) / "gnu.png");
  EXPECT_FALSE(read_chart(workdir(), linked_chart).has_value());

  std::string linked_dir = new_run_id();
  fs::create_directory(workdir() / "elsewhere");
  write_file(workdir() / "elsewhere" / "gnu.png", "outside");
  fs::create_directory_symlink(workdir() / "elsewhere", run_dir(workdir(), linked_dir));
  EXPECT_FALSE(read_chart(workdir(), linked_dir).has_value());

  std::string chart_is_dir = new_run_id();
  ASSERT_TRUE(create_run_dir(workdir(), chart_is_dir, error));
  fs::create_directory(run_dir(workdir(), chart_is_dir) / "gnu.png");
  EXPECT_FALSE(read_chart(workdir(), chart_is_dir).has_value());
}

TEST_F(RunDirectory, SweepRemovesOnlyOldIdleRunDirectories) {
  using namespace std::chrono_literals;
  std::string error;
  auto make_run = [&](bool old) {
    std::string id = new_run_id();
    EXPECT_TRUE(create_run_dir(workdir(), id, error));
    write_file(run_dir(workdir(), id) / "gnu.png", "png");
    if (old) fs::last_write_time(run_dir(workdir(), id), fs::file_time_type::clock::now() - 1h);
    return id;
  };
  std::string old_run = make_run(true);
  std::string fresh_run = make_run(false);
  std::string old_busy_run = make_run(true);

  fs::create_directory(workdir() / "tmp" / "manual");
  fs::last_write_time(workdir() / "tmp" / "manual", fs::file_time_type::clock::now() - 1h);
  write_file(workdir() / "tmp" / "gnu.png", "a chart of a run by hand");
  fs::create_directory(workdir() / "precious");
  std::string linked = new_run_id();
  fs::create_directory_symlink(workdir() / "precious", run_dir(workdir(), linked));

  std::size_t removed = sweep_run_dirs(workdir(), 600s, [&](std::string_view id) {
    return id == old_busy_run;
  });
  EXPECT_EQ(removed, 1u);
  EXPECT_FALSE(fs::exists(run_dir(workdir(), old_run)));
  EXPECT_TRUE(fs::exists(run_dir(workdir(), fresh_run)));
  EXPECT_TRUE(fs::exists(run_dir(workdir(), old_busy_run)));
  EXPECT_TRUE(fs::exists(workdir() / "tmp" / "manual"));
  EXPECT_TRUE(fs::exists(workdir() / "tmp" / "gnu.png"));
  EXPECT_TRUE(fs::exists(workdir() / "precious"));

  // The sweep runs in a thread of its own: nothing may escape it.
  EXPECT_EQ(sweep_run_dirs(workdir(), 600s,
                           [](std::string_view) -> bool { throw std::runtime_error("lock"); }),
            0u);
}

// Over the cap, the oldest runs go first, runs in use stay, and nothing but
// run directories is touched.
TEST_F(RunDirectory, TrimRemovesTheOldestRunsUntilTheyFitTheCap) {
  std::string error;
  std::vector<std::string> runs;  // oldest first
  for (int age = 5; age >= 1; --age) {
    runs.push_back(new_run_id());
    ASSERT_TRUE(create_run_dir(workdir(), runs.back(), error)) << error;
    write_file(run_dir(workdir(), runs.back()) / "gnu.png", std::string(100000, 'x'));
    fs::last_write_time(run_dir(workdir(), runs.back()),
                        fs::file_time_type::clock::now() - std::chrono::hours(age));
  }
  fs::create_directory(workdir() / "tmp" / "manual");
  write_file(workdir() / "tmp" / "manual" / "big", std::string(300000, 'x'));
  auto busy = [&](std::string_view id) { return id == runs[0]; };
  EXPECT_EQ(trim_run_dirs(workdir(), 1 << 20, busy), 0u) << "all fit";
  EXPECT_EQ(trim_run_dirs(workdir(), 250000, busy), 2u) << "the run in use does not count";
  for (std::size_t i = 0; i < runs.size(); ++i) {
    EXPECT_EQ(fs::exists(run_dir(workdir(), runs[i])), i == 0 || i >= 3) << i;
  }
  EXPECT_TRUE(fs::exists(workdir() / "tmp" / "manual" / "big"));
  EXPECT_EQ(trim_run_dirs(workdir(), 0,
                          [](std::string_view) -> bool { throw std::runtime_error("lock"); }),
            0u);
}

}  // namespace
}  // namespace polygons::web
