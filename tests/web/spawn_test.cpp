#include "web/spawn.hpp"

#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <cstdlib>

#include "web_test_support.hpp"

namespace polygons::web {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::scratch_dir;
using testing::write_script;

class Child : public ::testing::Test {
 protected:
  spawn_request script(const std::string& body) {
    spawn_request request;
    request.program = write_script(scratch_.path() / "child.sh", body);
    request.cwd = scratch_.path();
    request.environment = environment_without({});
    request.time_limit = 10s;
    return request;
  }
  scratch_dir scratch_;
};

TEST_F(Child, GetsItsInputAndArgumentsAndReturnsBothStreams) {
  spawn_request request = script("echo \"arg=$1 count=$#\"; cat; echo oops >&2; exit 0\n");
  request.args = {"0123abcd"};
  request.input = "3\n1\n1e+06 1\n0\n0\nplot x\n";
  spawn_result result = run_child(request);
  ASSERT_TRUE(result.started) << result.start_error;
  EXPECT_TRUE(result.exited_ok());
  EXPECT_EQ(result.out, "arg=0123abcd count=1\n" + request.input);
  EXPECT_EQ(result.err, "oops\n");
}

TEST_F(Child, CarriesLargeInputAndOutputWithoutDeadlock) {
  spawn_request request = script("cat\n");
  request.input.assign(3 * 1024 * 1024, 'x');
  spawn_result result = run_child(request);
  EXPECT_TRUE(result.exited_ok());
  EXPECT_EQ(result.out.size(), request.input.size());
}

TEST_F(Child, RunsInItsWorkingDirectoryWithTheGivenEnvironment) {
  ::setenv("USER", "someone", 1);
  spawn_request request = script("pwd; echo \"user=${USER-unset}\"\n");
  request.environment = environment_without({"USER"});
  spawn_result result = run_child(request);
  EXPECT_EQ(result.out, fs::canonical(scratch_.path()).string() + "\nuser=unset\n");
}

TEST_F(Child, ThatStopsReadingEarlyDoesNotHurtTheCaller) {
  spawn_request request = script("exit 4\n");
  request.input.assign(4 * 1024 * 1024, 'x');
  spawn_result result = run_child(request);
  ASSERT_TRUE(result.started);
  EXPECT_EQ(result.exit_status, 4);
  EXPECT_FALSE(result.exited_ok());
}

TEST_F(Child, EndedBySignalIsReported) {
  spawn_result result = run_child(script("kill -SEGV $$\n"));
  EXPECT_EQ(result.signal, SIGSEGV);
  EXPECT_EQ(result.exit_status, -1);
  EXPECT_FALSE(result.exited_ok());
}

TEST_F(Child, MissingProgramIsNotStarted) {
  spawn_request request;
  request.program = scratch_.path() / "no-such-program";
  request.cwd = scratch_.path();
  spawn_result result = run_child(request);
  EXPECT_FALSE(result.started);
  EXPECT_NE(result.start_error.find("no-such-program"), std::string::npos);
}

TEST_F(Child, IsKilledWithItsWholeGroupAtTheTimeLimit) {
  // The child starts a grandchild that holds no pipe, as the plotting program
  // would, and both would outlive the limit.
  spawn_request request = script("sleep 30 >/dev/null 2>&1 & echo $$; sleep 30\n");
  request.time_limit = 500ms;
  spawn_result result = run_child(request);
  EXPECT_TRUE(result.timed_out);
  EXPECT_LT(result.elapsed, 5s);
  pid_t group = std::atoi(result.out.c_str());
  ASSERT_GT(group, 1);
  EXPECT_EQ(::kill(-group, 0), -1) << "a process of the run is still there";
  EXPECT_EQ(errno, ESRCH);
}

TEST_F(Child, ThatClosesItsOutputButGoesOnIsStillTimed) {
  spawn_request request = script("exec >/dev/null 2>&1; sleep 30\n");
  request.time_limit = 300ms;
  spawn_result result = run_child(request);
  EXPECT_TRUE(result.timed_out);
}

TEST_F(Child, WritingWithoutEndIsStoppedAtTheOutputLimit) {
  spawn_request request = script("yes polygon\n");
  request.output_limit = 100000;
  spawn_result result = run_child(request);
  EXPECT_TRUE(result.output_cut);
  EXPECT_FALSE(result.exited_ok());
}

}  // namespace
}  // namespace polygons::web
