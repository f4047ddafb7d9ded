#include <iostream>
#include <string>
#include <vector>

#include "run/program.hpp"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return polygons::run::run_program(args, std::cin);
}
