#include <iostream>
#include <string>
#include <vector>

#include "mpi/job.hpp"
#include "mpi/shared_run.hpp"
#include "run/program.hpp"

int main(int argc, char** argv) {
  polygons::mpi::Session session(&argc, &argv);
  if (session.rank() != 0) return session.end(polygons::mpi::serve_share(session));
  std::vector<std::string> args(argv + 1, argv + argc);
  polygons::mpi::RankZero rank_zero(session);
  const int status = polygons::run::run_program(args, std::cin, rank_zero.runner());
  return session.end(rank_zero.finish(status));
}
