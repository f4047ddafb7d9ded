// Runs of polygons-mpi under mpirun against the one-process program: the
// same report but for the clock lines, the same data file and plotting
// script, the same results file (figures to the last bit), for any number of
// ranks and threads per rank; and the faults of a
// job: bad input, a missing working directory, a rank killed during the
// trials. Each job must end within seconds, never hang.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/files.hpp"
#include "support/program_runner.hpp"
#include "support/report_lines.hpp"

namespace polygons::mpi {
namespace {

namespace fs = std::filesystem;
using namespace polygons::testing;

// The launcher for `ranks` ranks, as CI runs it: as root, with more ranks
// than cores, without binding each rank to one core and without the
// launcher's own notices.
std::vector<std::string> mpirun(int ranks) {
  std::vector<std::string> command{POLYGONS_MPIEXEC, "-n", std::to_string(ranks),
                                   "--oversubscribe", "--bind-to", "none", "-q"};
  if (geteuid() == 0) command.push_back("--allow-run-as-root");
  return command;
}

// A template whose plotting script copies the data file and itself, while
// gnuplot runs on them, to data.copy and script.copy in `workdir`.
std::string copying_template(const std::string& workdir) {
  return "set terminal png\nsystem \"cp " + workdir + "gnudata.dat " + workdir + "data.copy; cp " +
         workdir + "gnuload.dat " + workdir + "script.copy\"\nplot\n using 1:2 with boxes\n";
}

struct Outputs {
  std::string report;  // without the clock lines
  std::string data;
  std::string script;
  std::string results;  // the figures to the last bit
};

struct IdentityCase {
  const char* name;
  const char* parameters;
  std::vector<std::string> args;
};

void PrintTo(const IdentityCase& c, std::ostream* os) { *os << c.name; }

class SameReport : public ::testing::TestWithParam<IdentityCase> {
 protected:
  // The outputs of one run in a fresh working directory; `command` empty:
  // the one-process program.
  Outputs run(const std::string& label, std::vector<std::string> command, const char* threads) {
    const IdentityCase& c = GetParam();
    const fs::path dir = scratch_.path() / label;
    const std::string sub = c.args.empty() ? "" : c.args[0] + "/";
    fs::create_directories(dir / "tmp" / sub);
    run_request r;
    r.directory = dir;
    r.command = std::move(command);
    r.args = c.args;
    r.input = c.parameters + copying_template("./tmp/" + sub);
    r.environment = {{"OMP_NUM_THREADS", threads}, {"POLYGONS_RESULTS", "1"}};
    r.time_limit_seconds = 60;
    const run_result result = run_polygons(r);
    EXPECT_TRUE(result.finished && result.exited) << label << ": " << result.status << result.err;
    EXPECT_EQ(result.status, 0) << label << ": " << result.err;
    const std::vector<std::string> lines = report_lines(result.out);
    EXPECT_TRUE(has_end_report(lines)) << label << ":\n" << result.out << result.err;
    return {without_clock_lines(lines), read_file(dir / "tmp" / sub / "data.copy"),
            read_file(dir / "tmp" / sub / "script.copy"), read_file(dir / "tmp" / sub / "results.tsv")};
  }

  scratch_dir scratch_{"mpi-same"};
};

TEST_P(SameReport, ForEveryNumberOfRanksAndThreads) {
  const Outputs expected = run("one-process", {}, "2");
  ASSERT_NE(expected.data, "") << "the template must copy the data file";
  ASSERT_NE(expected.results, "");
  for (int ranks : {1, 2, 3, 4}) {
    const std::string label = std::to_string(ranks) + "-ranks";
    SCOPED_TRACE(label);
    std::vector<std::string> command = mpirun(ranks);
    command.push_back(POLYGONS_MPI_BINARY);
    const Outputs got = run(label, command, ranks % 2 == 1 ? "2" : "1");
    EXPECT_EQ(got.report, expected.report);
    EXPECT_EQ(got.data, expected.data);
    EXPECT_EQ(got.script, expected.script);
    EXPECT_EQ(got.results, expected.results);
  }
}

// Chunks per run: about 2^18 draws each, so 1 to 77 here; one-chunk runs keep
// the running recurrence, and 4 ranks share a run of fewer chunks.
INSTANTIATE_TEST_SUITE_P(
    Runs, SameReport,
    ::testing::Values(
        IdentityCase{"OneSideOneChunk", "1\n1\n1000 7\n0\n0\n", {}},
        IdentityCase{"TwoSidesThreeChunks", "2\n2.5\n3e5 11\n20\n0\n", {}},
        IdentityCase{"WorkedRunOneChunkListed", "3\n1\n1000 1\n11\n1\n", {}},
        IdentityCase{"TrianglesTwelveChunksListed", "3\n1\n1e6 4711\n0\n1\n", {}},
        IdentityCase{"TenSidesNegativeRadiusListed", "10\n-1.5\n3e5 5\n30\n1\n", {}},
        IdentityCase{"HundredSidesInASubdirectory", "100\n1\n1e5 42\n0\n0\n", {"sub"}},
        IdentityCase{"TenThousandSidesListed", "10000\n1\n2000 3\n15\n1\n", {}}),
    [](const ::testing::TestParamInfo<IdentityCase>& info) { return std::string(info.param.name); });

// A job whose rank `victim` is killed after a second.
std::vector<std::string> job_with_victim(int ranks, int victim) {
  std::vector<std::string> command = mpirun(ranks);
  command.insert(command.end(),
                 {"/bin/sh", "-c",
                  "if [ \"$OMPI_COMM_WORLD_RANK\" = " + std::to_string(victim) +
                      " ]; then (sleep 1; kill -9 $$) </dev/null >/dev/null 2>&1 & fi; exec \"$@\"",
                  "sh", POLYGONS_MPI_BINARY});
  return command;
}

// A job whose every rank reports its own exit status on standard error,
// "rank R exit S". The launcher does not end the other ranks once one has
// ended with a status other than 0, as it otherwise does, and its own status
// does not tell theirs.
std::vector<std::string> reporting_job(int ranks) {
  std::vector<std::string> command = mpirun(ranks);
  command.insert(command.end(),
                 {"--mca", "orte_abort_on_non_zero_status", "0", "/bin/sh", "-c",
                  "\"$@\"; s=$?; echo \"rank $OMPI_COMM_WORLD_RANK exit $s\" >&2; exit $s", "sh",
                  POLYGONS_MPI_BINARY});
  return command;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class JobFaults : public ::testing::Test {
 protected:
  run_request request(const std::string& parameters, std::vector<std::string> command) const {
    run_request r;
    r.directory = dir_;
    r.command = std::move(command);
    r.input = parameters + "set terminal png\nplot\n using 1:2 with boxes\n";
    r.time_limit_seconds = 60;
    return r;
  }

  scratch_dir scratch_{"mpi-faults"};
  const fs::path dir_ = scratch_.make_run_directory();
};

TEST_F(JobFaults, RefusalBeforeTheTrialsEndsEveryRankWithItsStatus) {
  const struct {
    const char* name;
    std::string parameters;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> environment;
    int status;
    std::string message;
  } cases[] = {
      {"no sides", "0\n1\n1000 1\n0\n0\n", {}, {}, kBadInput, "polygons: "},
      {"letters for the radius", "3\nabc\n1000 1\n0\n0\n", {}, {}, kBadInput, "polygons: "},
      {"input ends early", "3\n1\n", {}, {}, kBadInput, "polygons: "},
      {"an unknown instruction set", "3\n1\n1000 1\n0\n0\n", {}, {{"POLYGONS_ISA", "none"}},
       kBadInput, "polygons: POLYGONS_ISA=\"none\""},
      {"working directory missing", "3\n1\n1e8 1\n0\n0\n", {"never_made"}, {}, kIoFailure,
       "polygons: cannot open data file ./tmp/never_made/gnudata.dat"},
  };
  const int ranks = 3;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> command = mpirun(ranks);
    command.push_back(POLYGONS_MPI_BINARY);
    run_request r = request(c.parameters, command);
    r.args = c.args;
    r.environment = c.environment;
    run_result result = run_polygons(r);
    EXPECT_TRUE(result.finished) << "killed at the time limit\n" << result.err;
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_EQ(occurrences(result.err, "polygons: "), 1u) << result.err;
    EXPECT_EQ(occurrences(result.err, c.message), 1u) << result.err;
    EXPECT_EQ(result.out.find(" Average, stdev,"), std::string::npos) << result.out;
    EXPECT_EQ(directory_entries(dir_ / "tmp"), std::set<std::string>{});

    r.command = reporting_job(ranks);
    result = run_polygons(r);
    EXPECT_TRUE(result.finished) << "killed at the time limit\n" << result.err;
    for (int rank = 0; rank < ranks; ++rank) {
      const std::string line = "rank " + std::to_string(rank) + " exit " + std::to_string(c.status);
      EXPECT_EQ(occurrences(result.err, line), 1u) << line << "\n" << result.err;
    }
  }
}

TEST_F(JobFaults, RefusalOnAnotherRankIsToldOnceByRankZero) {
  std::vector<std::string> command = mpirun(3);
  command.insert(command.end(),
                 {"/bin/sh", "-c",
                  "if [ \"$OMPI_COMM_WORLD_RANK\" = 1 ]; then export POLYGONS_ISA=none; fi; exec \"$@\"",
                  "sh", POLYGONS_MPI_BINARY});
  const run_result result = run_polygons(request("3\n1\n2e9 1\n0\n0\n", command));
  EXPECT_TRUE(result.finished) << "killed at the time limit\n" << result.err;
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.status, kBadInput) << result.err;
  EXPECT_EQ(occurrences(result.err, "polygons: "), 1u) << result.err;
  EXPECT_EQ(occurrences(result.err, "polygons: POLYGONS_ISA=\"none\""), 1u) << result.err;
  EXPECT_EQ(result.out.find(" Average, stdev,"), std::string::npos) << result.out;
  EXPECT_EQ(directory_entries(dir_ / "tmp"), std::set<std::string>{});
}

TEST_F(JobFaults, RankKilledDuringTheTrialsEndsTheJobWithoutFiles) {
  for (int victim : {1, 0}) {
    SCOPED_TRACE("rank " + std::to_string(victim) + " killed");
    // About a minute and a half of trials on two cores, were they to finish.
    run_request r = request("100\n1\n2e8 1\n0\n0\n", job_with_victim(3, victim));
    r.environment = {{"POLYGONS_RESULTS", "1"}, {"OMP_NUM_THREADS", "1"}};
    const run_result result = run_polygons(r);
    EXPECT_TRUE(result.finished) << "killed at the time limit\n" << result.err;
    EXPECT_FALSE(result.exited && result.status == 0) << result.err;
    EXPECT_EQ(result.out.find(" Average, stdev,"), std::string::npos) << result.out;
    EXPECT_FALSE(has_end_report(report_lines(result.out))) << result.out;
    EXPECT_EQ(directory_entries(dir_ / "tmp"), std::set<std::string>{}) << "no data file, chart or results";
  }
}

}  // namespace
}  // namespace polygons::mpi
